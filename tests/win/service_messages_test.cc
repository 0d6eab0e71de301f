// The message table built into kiv.exe, read as Event Viewer reads it (FormatMessageW on the
// program loaded as data): every event the plug-in reports and every entry of the host's own
// has a sentence, with the insertion strings in their places.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/utf8.h"
#include "platform/win/unique_handle.h"

namespace {

class ServiceMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.reset(LoadLibraryExW(kiv::utf::widen(KIV_PROGRAM).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program_) << "error " << GetLastError();
  }

  // The entry's text, or empty when the table has none for `id`.
  std::wstring text(DWORD id, const std::wstring& s1 = L"", const std::wstring& s2 = L"",
                    const std::wstring& s3 = L"") {
    const wchar_t* strings[] = {s1.c_str(), s2.c_str(), s3.c_str()};
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        program_.get(), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer),
        0, reinterpret_cast<va_list*>(const_cast<wchar_t**>(strings)));
    std::wstring result(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    return result;
  }

  kiv::platform::win::UniqueLibrary program_;
};

TEST_F(ServiceMessagesTest, EveryReportedEventAndHostEntryHasASentence) {
  for (DWORD id : {1, 2, 3, 5, 6, 7, 8, 9, 13, 14, 256, 257, 258}) {
    EXPECT_FALSE(text(id).empty()) << "no message for event ID " << id << ": error " << GetLastError();
  }
}

TEST_F(ServiceMessagesTest, InsertionStringsTakeTheirPlaces) {
  EXPECT_EQ(text(6, L"7", L"dockingDevicePalm"), L"A hand-held device was docked: device 7 of type dockingDevicePalm.\r\n");
  EXPECT_EQ(text(2, L"CORP\\alice", L".|CORP|alice", L"CORP|alice"),
            L"User CORP\\alice logged on (computer-user unit .|CORP|alice, user unit CORP|alice).\r\n");
  EXPECT_EQ(text(258, L"cannot load the plug-in", L"3"),
            L"The KIV plug-in host could not run: cannot load the plug-in (service exit code 3).\r\n");
}

}  // namespace
