// Windows' ownership rule for the address-change script, decided on access lists built in
// memory (Wine keeps no file access lists to test it on files).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/kiv_test.h"
#include "platform/utf8.h"
#include "tqNotify/notifier/win/ScriptAccess.h"

namespace {

struct Entry {
  WELL_KNOWN_SID_TYPE who;
  ACCESS_MASK rights;
  BYTE flags = 0;
  bool deny = false;
};

// An access list holding `entries`, in their order.
class BuiltAcl {
 public:
  explicit BuiltAcl(const std::vector<Entry>& entries) : buffer_(4096) {
    EXPECT_TRUE(InitializeAcl(acl(), static_cast<DWORD>(buffer_.size()), ACL_REVISION));
    for (const Entry& entry : entries) {
      BYTE sid[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof sid;
      EXPECT_TRUE(CreateWellKnownSid(entry.who, nullptr, sid, &size));
      EXPECT_TRUE(entry.deny ? AddAccessDeniedAceEx(acl(), ACL_REVISION, entry.flags, entry.rights, sid)
                             : AddAccessAllowedAceEx(acl(), ACL_REVISION, entry.flags, entry.rights, sid));
    }
  }
  ACL* acl() { return reinterpret_cast<ACL*>(buffer_.data()); }

 private:
  std::vector<DWORD> buffer_;
};

std::string writer(const std::vector<Entry>& entries, bool folder = false) {
  BuiltAcl built(entries);
  return kiv::notifier::nonAdministratorWriter(built.acl(), folder);
}

constexpr ACCESS_MASK kReadRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

TEST(ScriptAccess, AdministratorsAndTheSystemMayChangeItOthersMayOnlyReadIt) {
  EXPECT_EQ(writer({{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                    {WinLocalSystemSid, FILE_ALL_ACCESS},
                    {WinBuiltinUsersSid, kReadRun},
                    {WinAuthenticatedUserSid, kReadRun},
                    {WinWorldSid, kReadRun}}),
            "");
}

TEST(ScriptAccess, EachRightThatChangesTheFileGivenToEachOtherGroupRefusesIt) {
  for (const ACCESS_MASK right : {ACCESS_MASK(FILE_WRITE_DATA), ACCESS_MASK(FILE_APPEND_DATA), ACCESS_MASK(DELETE),
                                  ACCESS_MASK(WRITE_DAC), ACCESS_MASK(WRITE_OWNER), ACCESS_MASK(GENERIC_WRITE),
                                  ACCESS_MASK(GENERIC_ALL), ACCESS_MASK(FILE_ALL_ACCESS)}) {
    SCOPED_TRACE(right);
    EXPECT_EQ(writer({{WinBuiltinUsersSid, kReadRun | right}}), "Users");
    EXPECT_EQ(writer({{WinAuthenticatedUserSid, right}}), "Authenticated Users");
    EXPECT_EQ(writer({{WinWorldSid, right}}), "Everyone");
    EXPECT_EQ(writer({{WinInteractiveSid, right}}), "the interactive user");
  }
}

TEST(ScriptAccess, OnlyEntriesThatGuardTheObjectItselfCount) {
  // Inherited by what a folder holds, not the folder.
  EXPECT_EQ(writer({{WinBuiltinUsersSid, FILE_ALL_ACCESS, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE}}, true), "");
  // Applies to the folder and is inherited as well.
  EXPECT_EQ(writer({{WinBuiltinUsersSid, FILE_ADD_FILE, CONTAINER_INHERIT_ACE}}, true), "Users");
  // Deleting what a folder holds replaces the script; on a file the bit means nothing.
  EXPECT_EQ(writer({{WinWorldSid, FILE_DELETE_CHILD}}, true), "Everyone");
  EXPECT_EQ(writer({{WinWorldSid, FILE_DELETE_CHILD}}, false), "");
  // A denying entry gives nobody anything.
  EXPECT_EQ(writer({{WinBuiltinUsersSid, FILE_WRITE_DATA, 0, true}}), "");
}

TEST(ScriptAccess, AddingASubfolderIsNoChangeToAFolderButAppendingIsToAFile) {
  constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  constexpr ACCESS_MASK kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
  // The root of a stock system drive: Authenticated Users may create folders there, and
  // Modify reaches only what they create below it.
  EXPECT_EQ(writer({{WinLocalSystemSid, FILE_ALL_ACCESS, kInherited},
                    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kInherited},
                    {WinBuiltinUsersSid, kReadRun, kInherited},
                    {WinAuthenticatedUserSid, FILE_ADD_SUBDIRECTORY},
                    {WinAuthenticatedUserSid, kModify, kInherited | INHERIT_ONLY_ACE}},
                   true),
            "");
  // The same bit on a file lets its contents grow.
  EXPECT_EQ(writer({{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                    {WinBuiltinUsersSid, kReadRun},
                    {WinAuthenticatedUserSid, FILE_APPEND_DATA}},
                   false),
            "Authenticated Users");
  // Adding a file or replacing the folder's children still changes what runs.
  for (const ACCESS_MASK right : {ACCESS_MASK(FILE_ADD_FILE), ACCESS_MASK(FILE_DELETE_CHILD), ACCESS_MASK(DELETE),
                                  ACCESS_MASK(WRITE_DAC), ACCESS_MASK(WRITE_OWNER), ACCESS_MASK(GENERIC_WRITE),
                                  ACCESS_MASK(GENERIC_ALL), ACCESS_MASK(kModify)}) {
    SCOPED_TRACE(right);
    EXPECT_EQ(writer({{WinAuthenticatedUserSid, FILE_ADD_SUBDIRECTORY | right}}, true), "Authenticated Users");
  }
}

TEST(ScriptAccess, NoAccessListAtAllLetsEveryoneChangeIt) {
  EXPECT_EQ(kiv::notifier::nonAdministratorWriter(nullptr, false), "Everyone");
  EXPECT_EQ(writer({}), "") << "an empty list lets nobody in";
}

// The program an unquoted line starts is found as CreateProcessW finds it, so the check
// examines the file that will run, not the first word of a path with blanks in it.
TEST(ScriptAccess, TheProgramOfALineIsTheFileThatStartsEvenWithBlanksInItsPath) {
  const std::wstring home = kiv::utf::widen(kivtest::home());
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const std::wstring folder = home + L"\\with blank";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring program = folder + L"\\run.exe";
  ASSERT_TRUE(CopyFileW(self, program.c_str(), TRUE));

  using kiv::notifier::programOfCommandLine;
  EXPECT_EQ(programOfCommandLine(folder + L"\\run.exe --flag value"), program);
  EXPECT_EQ(programOfCommandLine(folder + L"\\run --flag"), program) << ".exe is added as the system adds it";
  EXPECT_EQ(programOfCommandLine(folder + L"\\run.exe"), program);
  EXPECT_EQ(programOfCommandLine(L"\"" + program + L"\" --flag"), program);
  EXPECT_EQ(programOfCommandLine(folder + L"\\missing.exe --flag"), L"");

  // The shortest prefix that names a file wins, as it would start.
  const std::wstring shorter = home + L"\\with.exe";
  ASSERT_TRUE(CopyFileW(self, shorter.c_str(), TRUE));
  EXPECT_EQ(programOfCommandLine(folder + L"\\run.exe --flag"), shorter);
  // A folder by the name of a prefix is no program.
  EXPECT_EQ(programOfCommandLine(L"\"" + folder + L"\" --flag"), L"");
}

TEST(ScriptAccess, AProgramWhosePathIsLongerThanMaxPathIsStillFound) {
  std::wstring folder = kiv::utf::widen(kivtest::home());
  while (folder.size() < MAX_PATH + 20) {
    folder += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
  }
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const std::wstring program = folder + L"\\run.exe";
  ASSERT_TRUE(CopyFileW(self, (L"\\\\?\\" + program).c_str(), TRUE));
  const std::wstring found = kiv::notifier::programOfCommandLine(L"\\\\?\\" + program + L" --flag");
  EXPECT_TRUE(found == program || found == L"\\\\?\\" + program) << kiv::utf::narrow(found);
}

}  // namespace
