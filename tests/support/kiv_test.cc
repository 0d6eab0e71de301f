#include "support/kiv_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "framework/tqUtilities/config_store.h"
#include "support/test_process.h"
#include "tqUtilities.h"

namespace kivtest {
namespace {

// The program's temporary directory: its log/kiv.log takes the traces of this process for
// the whole run; each test's KIV_HOME is made beside it.
std::string& programStorage() {
  static std::string path;
  return path;
}

std::string& homeStorage() {
  static std::string path;
  return path;
}

// Every test's home, removed when the program ends: what a library keeps for the whole
// process (a bus directory, say) may still point into an earlier test's home.
std::vector<std::string>& testHomes() {
  static std::vector<std::string> homes;
  return homes;
}

// Where this process's trace file stood when the current test started.
std::streamoff& traceStart() {
  static std::streamoff offset = 0;
  return offset;
}


// Gives every test a KIV_HOME of its own, so that tests run in one process see no values,
// units or files of the tests before them. Each thread's configuration store is opened
// again at the new home on its next use.
class HomePerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    // Beside the program's directory rather than below it: socket paths below a home must
    // stay as short as they are in a program's own home.
    std::string error;
    const std::string home = makeTemporaryDirectory(&error);
    if (home.empty()) {
      std::fprintf(stderr, "cannot make the test's KIV_HOME: %s\n", error.c_str());
      std::abort();
    }
    homeStorage() = home;
    testHomes().push_back(home);
    setEnvironment("KIV_HOME", home.c_str(), true);
    kiv::config::ConfigStore::reopenOnNextUse();
    if (std::getenv("KIV_TEST_TRACE_LATE") == nullptr) TQUtilities_FlushTrace();
    std::error_code ignored;
    traceStart() = static_cast<std::streamoff>(std::filesystem::file_size(traceFile(), ignored));
    if (ignored) traceStart() = 0;
  }
};

// Removes the program's directory and the tests' homes when the program ends (kept with
// KIV_TEST_KEEP_HOME=1 for a post-mortem).
// What cannot be removed is left: Windows keeps a file this process still has open (its
// trace file), and std::filesystem::remove_all can keep trying such a file for ever there.
void removeTree(const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  std::vector<fs::path> entries;  // parents before their children
  for (fs::recursive_directory_iterator it(root, ignored), end; !ignored && it != end; it.increment(ignored)) {
    entries.push_back(it->path());
  }
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) fs::remove(*entry, ignored);
  fs::remove(root, ignored);
}

class HomeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {}
  void TearDown() override {
    if (std::getenv("KIV_TEST_KEEP_HOME") == nullptr) {
      removeTree(programStorage());
      for (const std::string& home : testHomes()) removeTree(home);
    }
  }
};

void appendLines(const std::string& text, std::vector<std::string>& lines) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows ends trace lines with CR LF
    lines.push_back(line);
  }
}

}  // namespace

const std::string& home() { return homeStorage(); }
std::string traceFile() { return programStorage() + "/log/kiv.log"; }
std::string libDir() { return KIV_TEST_LIB_DIR; }
std::string binDir() { return KIV_TEST_BIN_DIR; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// This process's lines since the test started, then those of the processes it started,
// which write below the test's own home.
std::vector<std::string> traceLines() {
  TQUtilities_FlushTrace();
  std::vector<std::string> lines;
  std::string own = readFile(traceFile());
  // A trace file that rolled over since the test started is read from its beginning.
  if (static_cast<std::streamoff>(own.size()) >= traceStart()) own.erase(0, traceStart());
  appendLines(own, lines);
  if (home() != programStorage()) appendLines(readFile(home() + "/log/kiv.log"), lines);
  return lines;
}

int countTrace(const std::string& text) {
  int count = 0;
  for (const auto& line : traceLines()) count += line.find(text) != std::string::npos;
  return count;
}

bool traced(const std::string& text) { return countTrace(text) > 0; }

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
  }
}

std::string tracedListenerAddress() {
  const std::string marker = "TCP listener on ";
  for (const auto& line : traceLines()) {
    const size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    const std::string address = line.substr(at + marker.size());
    return address.substr(0, address.find_first_of(" \r\n"));
  }
  return {};
}

bool ranInOwnProcess(const std::string& launcher) {
  if (std::getenv("KIV_TEST_OWN_PROCESS") != nullptr) return false;
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  // The child inherits the marker; this process never looks at it again.
  setEnvironment("KIV_TEST_OWN_PROCESS", "1", true);
  std::string output;
  const int status = run(launcher + ownProgramPath() + " --gtest_filter=" +
                             test->test_suite_name() + "." + test->name() + " 2>&1",
                         &output);
  unsetEnvironment("KIV_TEST_OWN_PROCESS");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
  return true;
}

}  // namespace kivtest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  kivtest::prepareTestProcess();
  std::string error;
  kivtest::programStorage() = kivtest::makeTemporaryDirectory(&error);
  if (kivtest::programStorage().empty()) {
    std::fprintf(stderr, "cannot make the temporary KIV_HOME: %s\n", error.c_str());
    return 1;
  }
  kivtest::homeStorage() = kivtest::programStorage();
  kivtest::setEnvironment("KIV_HOME", kivtest::homeStorage().c_str(), true);
  kivtest::setEnvironment("KIV_TRACE_LEVEL", "4", false);
  // The trace file of this process is opened now, below the program's directory, before
  // the first test moves KIV_HOME; KIV_TEST_TRACE_LATE=1 leaves that to the first trace,
  // for a test that checks where it goes.
  if (std::getenv("KIV_TEST_TRACE_LATE") == nullptr) TQUtilities_FlushTrace();
  ::testing::UnitTest::GetInstance()->listeners().Append(new kivtest::HomePerTest);
  ::testing::AddGlobalTestEnvironment(new kivtest::HomeEnvironment);
  return RUN_ALL_TESTS();
}
