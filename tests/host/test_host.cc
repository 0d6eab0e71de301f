// `kiv host` as a program: its output, its stop on SIGTERM, a reader of its output that goes
// away, a second host, and a host without the plug-in module.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "host/HostFixture.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;

TEST_F(HostTest, PrintsEventsAsJsonAndStopsInOrderOnSigterm) {
  startHost({"--json"});
  std::string output;
  EXPECT_EQ(runKiv("send host-event 15 1 3", &output), 0) << output;
  EXPECT_EQ(runKiv("send docked --id 'a\"b\\c' --type T", &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(out()).find("\"code\":6") != std::string::npos; }))
      << kivtest::readFile(out());

  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(printed("{\"code\":13,\"s1\":\"3\",\"s2\":\"\",\"s3\":\"\"}"));
  EXPECT_TRUE(printed("{\"code\":6,\"s1\":\"a\\\"b\\\\c\",\"s2\":\"T\",\"s3\":\"\"}"));
  // The end of the plug-in is the last line.
  const std::string printedText = kivtest::readFile(out());
  const std::string last = "{\"code\":1,\"s1\":\"\",\"s2\":\"\",\"s3\":\"\"}\n";
  ASSERT_GE(printedText.size(), last.size());
  EXPECT_EQ(printedText.substr(printedText.size() - last.size()), last) << printedText;
}

// Every plain line reads back unambiguously: a backslash in a value is escaped like a quote.
TEST_F(HostTest, PlainLinesEscapeQuotesAndBackslashes) {
  startHost();
  std::string output;
  EXPECT_EQ(runKiv("send docked --id 'a\"b\\c\\\"' --type T", &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] { return !kivtest::readFile(out()).empty(); }));
  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(printed("6 \"a\\\"b\\\\c\\\\\\\"\" \"T\" \"\"")) << kivtest::readFile(out());
}

// `kiv host | head -n 1`: once the reader is gone the host goes on (events reach the
// trace), answers its senders, and still stops in order.
TEST_F(HostTest, ReaderOfTheOutputGoingAwayDoesNotEndTheHost) {
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  startHost({"--json"}, pipeFds[1]);
  close(pipeFds[1]);

  std::string output;
  ASSERT_EQ(runKiv("send undocked --type first", &output), 0) << output;
  FILE* reader = fdopen(pipeFds[0], "r");
  ASSERT_NE(reader, nullptr);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, reader), nullptr);
  EXPECT_NE(std::string(line).find("first"), std::string::npos) << line;
  std::fclose(reader);  // as head does after its one line

  EXPECT_EQ(runKiv("send undocked --type second", &output), 0) << output;
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("event {\"code\":7,\"s1\":\"second\""); }));
  EXPECT_EQ(runKiv("send undocked --type third", &output), 0) << output;
  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(kivtest::traced("event {\"code\":7,\"s1\":\"third\""));
  EXPECT_TRUE(kivtest::traced("event {\"code\":1,"));
  EXPECT_EQ(kivtest::countTrace("standard output cannot be written"), 1);
}

TEST_F(HostTest, SecondHostNamesTheRunningOne) {
  startHost();
  std::string output;
  EXPECT_EQ(runKiv("host", &output), 1);
  EXPECT_NE(output.find("another host is running (process " + std::to_string(host_->pid()) + ")"),
            std::string::npos) << output;
  EXPECT_NE(output.find("\"tqHost\""), std::string::npos) << output;
  // The first host goes on undisturbed.
  EXPECT_EQ(runKiv("send undocked --type T", &output), 0) << output;
  EXPECT_EQ(stopHost(), 0);
}

TEST(HostProgram, MissingPluginModuleIsNamedAndExitsNonZero) {
  // A tree with the program and every library except the plug-in, so that neither the
  // module path nor the place beside libtqUtilities.so holds it.
  const fs::path tree = fs::path(kivtest::home()) / "tree";
  fs::create_directories(tree / "bin");
  fs::create_directories(tree / "lib");
  fs::create_directories(tree / "modules");
  fs::copy_file(kiv(), tree / "bin" / "kiv");
  for (const auto& entry : fs::directory_iterator(kivtest::libDir())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".so" && name != "libtqNotify.so") {
      fs::copy_file(entry.path(), tree / "lib" / name);
    }
  }
  std::string output;
  const int status = kivtest::run("LD_LIBRARY_PATH=" + (tree / "lib").string() +
                                  " KIV_MODULE_PATH=" + (tree / "modules").string() + " " +
                                  (tree / "bin" / "kiv").string() + " host 2>&1", &output);
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("\"tqNotify\""), std::string::npos) << output;
  EXPECT_NE(output.find("cannot load"), std::string::npos) << output;
}

}  // namespace
}  // namespace hosttest
