// `kiv host` as a program: started in the test's KIV_HOME, fed a host event and a bus
// message, stopped with SIGTERM; and started without the plug-in module.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/kiv_test.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A child process with stdout and stderr in files.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  void signal(int number) { kill(pid_, number); }
  // Waits for the exit; the exit code, or -1 when it did not end in time or by a signal.
  int exitCode() {
    const bool ended = kivtest::waitFor([&] {
      if (!exited_) exited_ = waitpid(pid_, &status_, WNOHANG) == pid_;
      return exited_;
    }, std::chrono::seconds(60));
    if (!ended || !WIFEXITED(status_)) return -1;
    return WEXITSTATUS(status_);
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

std::string kiv() { return kivtest::binDir() + "/kiv"; }

TEST(HostTest, PrintsEventsAsJsonAndStopsInOrderOnSigterm) {
  const std::string out = kivtest::home() + "/host.out";
  const std::string err = kivtest::home() + "/host.err";
  Child host({kiv(), "host", "--json"}, out, err);
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(err).find("running") != std::string::npos; }))
      << kivtest::readFile(err);

  std::string output;
  EXPECT_EQ(kivtest::run(kiv() + " send host-event 15 1 3", &output), 0) << output;
  EXPECT_EQ(kivtest::run(kiv() + " send docked --id 'a\"b\\c' --type T", &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] {
    return kivtest::readFile(out).find("\"code\":6") != std::string::npos;
  })) << kivtest::readFile(out);

  host.signal(SIGTERM);
  EXPECT_EQ(host.exitCode(), 0) << kivtest::readFile(err);
  const std::string printed = kivtest::readFile(out);
  EXPECT_NE(printed.find("{\"code\":13,\"s1\":\"3\",\"s2\":\"\",\"s3\":\"\"}\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("{\"code\":6,\"s1\":\"a\\\"b\\\\c\",\"s2\":\"T\",\"s3\":\"\"}\n"), std::string::npos) << printed;
  // The end of the plug-in is the last line.
  const std::string last = "{\"code\":1,\"s1\":\"\",\"s2\":\"\",\"s3\":\"\"}\n";
  ASSERT_GE(printed.size(), last.size());
  EXPECT_EQ(printed.substr(printed.size() - last.size()), last) << printed;
}

TEST(HostTest, MissingPluginModuleIsNamedAndExitsNonZero) {
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
  const std::string err = kivtest::home() + "/missing.err";
  std::string output;
  const int status = kivtest::run("LD_LIBRARY_PATH=" + (tree / "lib").string() +
                                  " KIV_MODULE_PATH=" + (tree / "modules").string() + " " +
                                  (tree / "bin" / "kiv").string() + " host 2>&1", &output);
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("\"tqNotify\""), std::string::npos) << output;
  EXPECT_NE(output.find("cannot load"), std::string::npos) << output;
}

}  // namespace
