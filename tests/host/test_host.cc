// `kiv host` as a program: its output, its orderly stop when an operator asks for it, a
// reader of its output that goes away, a second host, and a host without the plug-in module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/HostFixture.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;

TEST_F(HostTest, PrintsEventsAsJsonAndStopsInOrderWhenAsked) {
  startHost({"--json"});
  std::string output;
  EXPECT_EQ(runKiv({"send", "host-event", "15", "1", "3"}, &output), 0) << output;
  EXPECT_EQ(runKiv({"send", "docked", "--id", "a\"b\\c", "--type", "T"}, &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] { return printedText().find("\"code\":6") != std::string::npos; }))
      << printedText();

  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(printed("{\"code\":13,\"s1\":\"3\",\"s2\":\"\",\"s3\":\"\"}"));
  EXPECT_TRUE(printed("{\"code\":6,\"s1\":\"a\\\"b\\\\c\",\"s2\":\"T\",\"s3\":\"\"}"));
  expectEndIsLastLine();
  EXPECT_FALSE(endpointOpen("tqHost"));
}

// Every plain line reads back unambiguously: a backslash in a value is escaped like a quote.
TEST_F(HostTest, PlainLinesEscapeQuotesAndBackslashes) {
  startHost();
  std::string output;
  EXPECT_EQ(runKiv({"send", "docked", "--id", "a\"b\\c\\\"", "--type", "T"}, &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] { return !printedText().empty(); }));
  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(printed("6 \"a\\\"b\\\\c\\\\\\\"\" \"T\" \"\"")) << printedText();
}

// `kiv host | head -n 1`: once the reader is gone the host goes on (events reach the
// trace), answers its senders, and still stops in order.
TEST_F(HostTest, ReaderOfTheOutputGoingAwayDoesNotEndTheHost) {
  kivtest::OutputPipe pipe;
  ASSERT_TRUE(pipe.isOpen());
  startHost({"--json"}, &pipe);
  pipe.closeWriteEnd();

  std::string output;
  ASSERT_EQ(runKiv({"send", "undocked", "--type", "first"}, &output), 0) << output;
  std::string line;
  ASSERT_TRUE(pipe.readLine(&line));
  EXPECT_NE(line.find("first"), std::string::npos) << line;
  pipe.closeReadEnd();  // as head does after its one line

  EXPECT_EQ(runKiv({"send", "undocked", "--type", "second"}, &output), 0) << output;
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("event {\"code\":7,\"s1\":\"second\""); }));
  EXPECT_EQ(runKiv({"send", "undocked", "--type", "third"}, &output), 0) << output;
  EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
  EXPECT_TRUE(kivtest::traced("event {\"code\":7,\"s1\":\"third\""));
  EXPECT_TRUE(kivtest::traced("event {\"code\":1,"));
  EXPECT_EQ(kivtest::countTrace("standard output cannot be written"), 1);
}

TEST_F(HostTest, SecondHostNamesTheRunningOne) {
  startHost();
  std::string output;
  EXPECT_EQ(runKiv({"host"}, &output), 1);
  EXPECT_NE(output.find("another host is running (process " + std::to_string(host_->pid()) + ")"),
            std::string::npos) << output;
  EXPECT_NE(output.find("\"tqHost\""), std::string::npos) << output;
  // The first host goes on undisturbed.
  EXPECT_EQ(runKiv({"send", "undocked", "--type", "T"}, &output), 0) << output;
  EXPECT_EQ(stopHost(), 0);
}

TEST(HostProgram, MissingPluginModuleIsNamedAndExitsNonZero) {
  // A tree with the program and every library except the plug-in, so that neither the
  // module path nor the place beside the tqUtilities library holds it. Windows loads a
  // program's libraries from its own folder.
  const fs::path tree = fs::path(kivtest::home()) / "tree";
  const fs::path program = tree / "bin" / fs::path(kiv()).filename();
#ifdef _WIN32
  const fs::path libraries = tree / "bin";
#else
  const fs::path libraries = tree / "lib";
  ScopedSetting libraryPath("LD_LIBRARY_PATH", libraries.string().c_str());
#endif
  fs::create_directories(tree / "bin");
  fs::create_directories(libraries);
  fs::create_directories(tree / "modules");
  fs::copy_file(kiv(), program);
  for (const auto& entry : fs::directory_iterator(KIV_LIBRARY_DIR)) {
    if (entry.path().extension() == KIV_LIBRARY_SUFFIX && entry.path().filename() != KIV_PLUGIN_FILE) {
      fs::copy_file(entry.path(), libraries / entry.path().filename());
    }
  }
  ScopedSetting modulePath("KIV_MODULE_PATH", (tree / "modules").string().c_str());
  std::string output;
  EXPECT_NE(kivtest::runProgram({program.string(), "host"}, &output), 0);
  EXPECT_NE(output.find("\"tqNotify\""), std::string::npos) << output;
  EXPECT_NE(output.find("cannot load"), std::string::npos) << output;
}

}  // namespace
}  // namespace hosttest
