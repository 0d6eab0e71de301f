// `kiv script run|check` on Windows: a .cmd script run without a shell of the host's own,
// its output printed and its exit code passed on, and the codes of a script that is not
// configured, cannot start or runs past its time limit.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kiv/ScriptTest.h"

namespace kivtooltest {
namespace {

// Gives Everyone full control of the file, beside what its list allows already.
bool letEveryoneChange(const std::filesystem::path& file) {
  using LocalMemory = std::unique_ptr<void, decltype(&LocalFree)>;
  std::wstring name = file.wstring();
  PACL old = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const LocalMemory oldHeld(descriptor, &LocalFree);
  wchar_t everyone[] = L"Everyone";
  EXPLICIT_ACCESSW entry{};
  BuildExplicitAccessWithNameW(&entry, everyone, GENERIC_ALL, GRANT_ACCESS, NO_INHERITANCE);
  PACL changed = nullptr;
  if (SetEntriesInAclW(1, &entry, old, &changed) != ERROR_SUCCESS) return false;
  const LocalMemory changedHeld(changed, &LocalFree);
  return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, changed,
                               nullptr) == ERROR_SUCCESS;
}

class KivScriptWin : public ScriptTest {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::path(kivtest::home()) / "hooks";
    std::filesystem::create_directories(directory_);
    ScriptTest::SetUp();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  // A .cmd file of these lines; its path, quoted.
  std::string script(const std::string& name, const std::string& lines) {
    const auto path = directory_ / name;
    std::ofstream(path, std::ios::binary) << "@echo off\r\n" << lines;
    return "\"" + path.string() + "\"";
  }
  std::filesystem::path directory_;
};

TEST_F(KivScriptWin, RunPrintsTheOutputAndExitsWithTheScriptsCode) {
  const std::string hook = script("hook.cmd", "echo event=%KIV_EVENT%\r\necho oops 1>&2\r\nexit /b 3\r\n");
  configure("ipchangescript", hook);
  std::string out;
  EXPECT_EQ(kiv({"script", "check"}, &out), 0);
  EXPECT_TRUE(out.starts_with("would run ") && out.ends_with("hook.cmd: " + hook + "\n")) << out;
  EXPECT_EQ(kiv({"script", "run"}, &out), 3);
  EXPECT_NE(out.find("event=manual\n"), std::string::npos) << out;
  EXPECT_NE(out.find("oops"), std::string::npos) << out;
  EXPECT_EQ(kivtest::countTrace(") ended: exit 3 after "), 1);
}

// An unquoted line names the file that will start, found as the system finds it: with a
// blank in the folder's name that is not the line's first word.
TEST_F(KivScriptWin, CheckNamesTheFileThatStartsForAnUnquotedLine) {
  const auto folder = directory_ / "with blank";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(KIV_SLEEPER, folder / "run.exe");
  const std::string line = (folder / "run").string() + " 0";
  configure("ipchangescript", line);
  std::string out;
  EXPECT_EQ(kiv({"script", "check"}, &out), 0) << out;
  EXPECT_EQ(out, "would run " + (folder / "run.exe").string() + ": " + line + "\n");

  // That file is the one whose access list decides.
  EXPECT_TRUE(letEveryoneChange(folder / "run.exe"));
  EXPECT_EQ(kiv({"script", "check"}, &out), 125) << out;
  EXPECT_EQ(out, "not run: " + (folder / "run.exe").string() + " may be changed by Everyone: " + line + "\n");
}

TEST_F(KivScriptWin, EachWayOfNotRunningHasItsOwnCode) {
  std::string out;
  EXPECT_EQ(kiv({"script", "check"}, &out), 127);
  EXPECT_EQ(kiv({"script", "run"}), 127);

  configure("ipchangescript", "\"" + (directory_ / "no such hook.exe").string() + "\" --now");
  EXPECT_EQ(kiv({"script", "check"}, &out), 126) << out;
  EXPECT_NE(out.find("no program"), std::string::npos) << out;
  EXPECT_EQ(kiv({"script", "run"}, &out), 126) << out;
  // A name looked up on the search path, as the system starts it.
  configure("ipchangescript", "kivnosuchscript" + std::to_string(GetCurrentProcessId()) + " --now");
  EXPECT_EQ(kiv({"script", "check"}, &out), 126) << out;
  configure("ipchangescript", "cmd /c exit 0");
  EXPECT_EQ(kiv({"script", "check"}, &out), 0) << out;

  // A child under a name nothing else uses, so that the test finds its own.
  const std::string child = "kivscripttool" + std::to_string(GetCurrentProcessId()) + ".exe";
  std::filesystem::copy_file(KIV_SLEEPER, directory_ / child);
  configure("ipchangescript", script("slow.cmd", "\"" + (directory_ / child).string() + "\" 600\r\n"));
  configure("ipchangescripttimeout", "1");
  EXPECT_EQ(kiv({"script", "run"}, &out), 124);
  EXPECT_NE(out.find("ran past \"ipchangescripttimeout\""), std::string::npos) << out;
  // The job was ended with the script, so its child is gone and its file can go.
  std::error_code removed;
  EXPECT_TRUE(kivtest::waitFor([&] { return std::filesystem::remove(directory_ / child, removed); }))
      << removed.message();
}

}  // namespace
}  // namespace kivtooltest
