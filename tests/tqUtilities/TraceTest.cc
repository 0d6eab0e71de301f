// Trace lines in KIV_HOME/log/kiv.log: which levels are written, what a line carries, and
// that lines from many threads and processes stay whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "support/run_self.h"
#include "support/test_process.h"
#include "tqUtilities.h"

namespace {

constexpr int kMixThreads = 4, kMixLines = 50;

std::vector<std::string> linesContaining(const std::string& text) {
  std::vector<std::string> found;
  for (const auto& line : kivtest::traceLines()) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

TEST(Trace, LevelledLinesAreWrittenUpToTheConfiguredLevelOnly) {
  kivtest::setEnvironment("KIV_TRACE_LEVEL", "2", true);
  EXPECT_EQ(TQUtilities_GetTraceLevel(), 2);
  for (int level = 0; level <= 4; ++level) {
    TQUtilities_TraceExW(L"tqNotify", level, L"levelled %d of %hs", level, "test");
  }
  TQUtilities_TraceFuncEntryW(L"Some::function");
  EXPECT_EQ(TQUtilities_TraceFuncExitIntW(L"Some::function", 17), 17);  // hands its value back
  // Unlevelled, error and detail lines do not depend on the level.
  TQUtilities_TraceW(L"AGUNIT", L"plain %d", 1);
  TQUtilities_TraceErrorW(nullptr, L"error %s", L"text");
  TQUtilities_TraceDetailW(0, L"detail %x", 255);

  for (int level = 0; level <= 4; ++level) {
    EXPECT_EQ(kivtest::countTrace("levelled " + std::to_string(level) + " of test"), level <= 2 ? 1 : 0) << level;
  }
  EXPECT_FALSE(kivtest::traced("Some::function"));
  EXPECT_TRUE(kivtest::traced("plain 1"));
  EXPECT_TRUE(kivtest::traced("error text"));
  EXPECT_TRUE(kivtest::traced("detail ff"));

  kivtest::setEnvironment("KIV_TRACE_LEVEL", "9", true);  // out of range: the default
  EXPECT_EQ(TQUtilities_GetTraceLevel(), 3);
}

TEST(Trace, LineCarriesSourceLevelAndTextAndStaysOneLine) {
  kivtest::setEnvironment("KIV_TRACE_LEVEL", "4", true);
  TQUtilities_TraceExW(L"tqNotify", 3, L"%s: state %d", L"CTQNotify::doAddUserUnit", 5);
  TQUtilities_TraceErrorW(nullptr, L"no source here");
  TQUtilities_TraceW(L"AGUNIT", L"first\nsecond");
  TQUtilities_TraceFuncEntryW(L"Entry::point");
  TQUtilities_TraceFuncExitIntW(L"Entry::point", -3);

  const auto levelled = linesContaining("CTQNotify::doAddUserUnit: state 5");
  ASSERT_EQ(levelled.size(), 1u);
  EXPECT_NE(levelled[0].find("tqNotify L3 "), std::string::npos) << levelled[0];
  const auto error = linesContaining("no source here");
  ASSERT_EQ(error.size(), 1u);
  EXPECT_NE(error[0].find(" - ERROR no source here"), std::string::npos) << error[0];
  EXPECT_EQ(linesContaining("first\\nsecond").size(), 1u);
  EXPECT_TRUE(kivtest::traced("entering Entry::point"));
  EXPECT_TRUE(kivtest::traced("leaving Entry::point result -3"));
}

// The system's last error is errno on Linux and GetLastError on Windows; failures of the
// platform layer (a script that cannot be started, say) leave theirs there.
TEST(Trace, LastSystemErrorAppendsTheErrorTextAndKeepsTheError) {
  constexpr int kNotFound = 2;  // ENOENT and ERROR_FILE_NOT_FOUND alike
  kiv::platform::setLastError(kNotFound);
  TQUtilities_TraceLastSystemErrorW(L"tqNotify", L"failed to execute ipchangescript", L"/bin/script arg", 0);
  EXPECT_EQ(kiv::platform::lastError(), kNotFound);
  const auto lines = linesContaining("failed to execute ipchangescript");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/bin/script arg"), std::string::npos) << lines[0];
  const std::string text = kiv::utf::narrow(kiv::platform::errorText(kNotFound));
  ASSERT_FALSE(text.empty());
  EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];
}

// Runs in the child processes of the next test, which sets KIV_TEST_MIX_HOME: each traces
// from several threads into the trace file of that home.
TEST(Trace, MixingChild) {
  const char* home = std::getenv("KIV_TEST_MIX_HOME");
  if (home == nullptr) GTEST_SKIP() << "runs only as a child of LinesFromManyThreadsAndProcessesNeverMix";
  kivtest::setEnvironment("KIV_HOME", home, true);
  const std::string filler(3000, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kMixThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kMixLines; ++i) {
        TQUtilities_TraceW(L"test", L"mix-begin %d %d %hs mix-end", t, i, filler.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

// Long lines from several processes, each with several threads, all in one file: every
// line must come out whole.
//
// Windows appends a write made through an append-only handle atomically, whoever else writes
// the file; Wine writes it at an end it read before, so lines of several processes overwrite
// each other there. Under Wine only the threads of one process share the file.
TEST(Trace, LinesFromManyThreadsAndProcessesNeverMix) {
  const int kProcesses = kivtest::underWine() ? 1 : 3;
  std::vector<int> statuses(kProcesses, -1);
  std::vector<std::string> outputs(kProcesses);
  {
    // The children open their trace file at their first trace, in this test's home.
    kivtest::ChildEnvironment environment({{"KIV_TEST_TRACE_LATE", "1"}, {"KIV_TEST_MIX_HOME", kivtest::home()}});
    std::vector<std::thread> starters;
    for (int p = 0; p < kProcesses; ++p) {
      starters.emplace_back([&, p] { statuses[p] = kivtest::runLine(kivtest::selfCommand("Trace.MixingChild"), &outputs[p]); });
    }
    for (auto& starter : starters) starter.join();
  }
  for (int p = 0; p < kProcesses; ++p) {
    ASSERT_EQ(statuses[p], 0) << outputs[p];
    ASSERT_EQ(outputs[p].find("SKIPPED"), std::string::npos) << outputs[p];
  }
  int whole = 0;
  for (const auto& line : kivtest::traceLines()) {
    const bool begins = line.find("mix-begin") != std::string::npos;
    const bool ends = line.size() > 7 && line.compare(line.size() - 7, 7, "mix-end") == 0;
    EXPECT_EQ(begins, ends) << line.substr(0, 120);
    if (begins) {
      EXPECT_EQ(line.find("mix-begin"), line.rfind("mix-begin"));
    }
    whole += begins && ends;
  }
  EXPECT_EQ(whole, kProcesses * kMixThreads * kMixLines);
}

TEST(Trace, FullFileIsRotated) {
  const std::string block(64 * 1024, 'r');
  for (int i = 0; i < 100; ++i) TQUtilities_TraceW(L"test", L"rotation %d %hs", i, block.c_str());
  TQUtilities_TraceW(L"test", L"after rotation");
  const std::string log = kivtest::traceFile();
  EXPECT_TRUE(std::filesystem::exists(log + ".1"));
  EXPECT_LT(std::filesystem::file_size(log), 6u * 1024 * 1024);
  EXPECT_TRUE(kivtest::traced("after rotation"));
}

// Another process that fills the file is seen too, though this process's own short lines
// would never have filled it.
TEST(Trace, FileFilledByAnotherWriterIsRotatedAtTheNextCheck) {
  TQUtilities_TraceW(L"test", L"before the other writer");
  const std::string log = kivtest::traceFile();
  const std::string backup = log + ".1";
  std::error_code ignored;
  std::filesystem::remove(backup, ignored);
  {
    std::ofstream other(log, std::ios::app | std::ios::binary);
    const std::string line(1023, 'o');
    for (int i = 0; i < 5 * 1024 + 1; ++i) other << line << '\n';
  }
  int written = 0;
  EXPECT_TRUE(kivtest::waitFor([&] {
    TQUtilities_TraceW(L"test", L"short line %d", ++written);
    return std::filesystem::exists(backup);
  })) << "no rotation after " << written << " lines";
  EXPECT_LT(std::filesystem::file_size(log), 64u * 1024);
}

// Runs in a child process of the next test, which sets KIV_TEST_TRACE_CHILD.
TEST(Trace, ChildWithUnusableHome) {
  const char* home = std::getenv("KIV_TEST_TRACE_CHILD");
  if (home == nullptr) GTEST_SKIP() << "runs only as a child of UnusableHomeSendsTracesToStderr";
  kivtest::setEnvironment("KIV_HOME", home, true);
  TQUtilities_TraceW(L"test", L"still visible");
  char buffer[260];
  EXPECT_EQ(TQUtilities_GetInstallDirA(buffer, sizeof buffer), 0);
}

// A home below a plain file can never be made, whoever runs the test.
TEST(Trace, UnusableHomeSendsTracesToStderr) {
  kivtest::writeFile(kivtest::home() + "/plain-file", "");
  const std::string badHome = kivtest::home() + "/plain-file/home";
  std::string output;
  const int status = kivtest::runSelf("Trace.ChildWithUnusableHome",
                                      {{"KIV_TEST_TRACE_LATE", "1"}, {"KIV_TEST_TRACE_CHILD", badHome}}, &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find(badHome), std::string::npos) << output;
  EXPECT_NE(output.find("still visible"), std::string::npos) << output;
}

}  // namespace
