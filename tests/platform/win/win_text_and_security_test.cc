// The Windows backend's UTF-16 conversions, the Users access list it builds, its address
// queries and change sockets, and the state root below KIV_HOME.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/address_change.h"
#include "platform/address_list.h"
#include "platform/dir_acl.h"
#include "platform/home.h"
#include "platform/utf8.h"
#include "platform/win/group_acl.h"

namespace kiv::platform {
namespace {

TEST(Utf16, SurrogatePairsBothWaysAndBrokenTextReplaced) {
  const std::string utf8 = "a\xF0\x9F\x98\x80z\xC3\xA9";  // a, U+1F600, z, e-acute
  std::wstring wide;
  ASSERT_TRUE(kiv::utf::toWide(utf8, wide));
  EXPECT_EQ(wide, std::wstring(L"a\xD83D\xDE00z\x00E9"));
  std::string back;
  ASSERT_TRUE(kiv::utf::toUtf8(wide, back));
  EXPECT_EQ(back, utf8);

  // One U+FFFD per broken sequence, valid neighbours kept, and the caller is told.
  EXPECT_FALSE(kiv::utf::toWide("x\xF0\x9F\x98y\xFF", wide));
  EXPECT_EQ(wide, std::wstring(L"x\xFFFDy\xFFFD"));
  EXPECT_FALSE(kiv::utf::toUtf8(std::wstring(L"\xDE00q\xD83D"), back));
  EXPECT_EQ(back, "\xEF\xBF\xBDq\xEF\xBF\xBD");
  EXPECT_TRUE(kiv::utf::toWide(std::string_view("a\0b", 3), wide));
  EXPECT_EQ(wide.size(), 3u);
}

// The single entry of an access list.
const ACCESS_ALLOWED_ACE* onlyEntry(std::vector<unsigned char>& acl) {
  auto* list = reinterpret_cast<PACL>(acl.data());
  EXPECT_EQ(list->AclRevision, ACL_REVISION);
  EXPECT_EQ(list->AceCount, 1);
  void* entry = nullptr;
  if (!GetAce(list, 0, &entry)) return nullptr;
  return static_cast<const ACCESS_ALLOWED_ACE*>(entry);
}

TEST(DirectoryAccess, UsersGetFullControlInheritedBelow) {
  unsigned char users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof users;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  std::vector<unsigned char> sid = win::groupSid("Users");
  ASSERT_FALSE(sid.empty());
  EXPECT_TRUE(EqualSid(sid.data(), users));

  std::vector<unsigned char> acl = win::fullAccessAcl(sid.data());
  ASSERT_FALSE(acl.empty());
  const ACCESS_ALLOWED_ACE* entry = onlyEntry(acl);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(entry->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  EXPECT_EQ(entry->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&entry->SidStart), users));

  // Where the system cannot add inheritable entries, the entry comes without the flags.
  testing::setDefaultAclUnavailable(true);
  std::vector<unsigned char> plain = win::fullAccessAcl(sid.data());
  testing::setDefaultAclUnavailable(false);
  ASSERT_FALSE(plain.empty());
  entry = onlyEntry(plain);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Header.AceFlags, 0);
  EXPECT_EQ(entry->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));

  EXPECT_TRUE(win::groupSid("kiv no such group").empty());
  EXPECT_FALSE(grantGroupFullAccess(kivHome(), "kiv no such group"));
  EXPECT_FALSE(grantGroupFullAccess(kivHome() + "\\missing", "users"));
}

TEST(StateRoot, FollowsKivHomeAndCreatesLevelsBelowIt) {
  const std::string home = kivHome();
  ASSERT_FALSE(home.empty());
  const std::string made = kivSubdirectory("run/locks/global", 0700);
  EXPECT_EQ(made, home + "\\run\\locks\\global");
  EXPECT_NE(GetFileAttributesA(made.c_str()), INVALID_FILE_ATTRIBUTES);
  std::string error;
  EXPECT_EQ(kivSubdirectory("../outside", 0700, &error), "");
  EXPECT_NE(error.find("would leave"), std::string::npos);
}

TEST(Addresses, QueriesGiveNumericTextsAndHooksOverrideThem) {
  const auto all = queryAdapterAddresses();
  ASSERT_TRUE(all.has_value());
  for (const auto& text : *all) {
    EXPECT_EQ(text.find_first_not_of("0123456789abcdefABCDEF.:%"), std::string::npos) << text;
  }
  const auto ipv4 = queryIPv4AdapterAddresses();
  ASSERT_TRUE(ipv4.has_value());
  for (const auto& text : *ipv4) EXPECT_EQ(text.find(':'), std::string::npos) << text;

  // A starting buffer too small for even one adapter still succeeds on the retry.
  testing::setIPv4QueryBufferSize(8);
  EXPECT_EQ(queryIPv4AdapterAddresses(), ipv4);
  testing::setIPv4QueryBufferSize(4096);

  testing::setAdapterAddressesAnswer(testing::AddressQueryAnswer{true, {}});
  EXPECT_FALSE(queryAdapterAddresses().has_value());
  testing::setAdapterAddressesAnswer(std::nullopt);
}

TEST(AddressChange, EachFamilyArmsAndRearmsWithNothingPending) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  for (const auto family : {AddressFamily::kIPv4, AddressFamily::kIPv6}) {
    auto socket = AddressChangeSocket::open(family);
    if (!socket) continue;  // a family the machine does not have
    EXPECT_TRUE(socket->setNonBlocking());
    EXPECT_TRUE(socket->requestNotification()) << WSAGetLastError();
    EXPECT_TRUE(socket->joinChangeGroup()) << WSAGetLastError();
    EXPECT_TRUE(socket->handle().valid());
    EXPECT_EQ(waitOne(socket->handle(), 0), kWaitTimeout);
    EXPECT_FALSE(socket->rearm());
  }
  testing::failAddressChangeStep(AddressFamily::kIPv6, testing::AddressChangeStep::kRequest);
  auto failing = AddressChangeSocket::open(AddressFamily::kIPv6);
  if (failing) {
    EXPECT_FALSE(failing->requestNotification());
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
  }
  testing::failAddressChangeStep(AddressFamily::kIPv6, testing::AddressChangeStep::kNone);
  WSACleanup();
}

}  // namespace
}  // namespace kiv::platform
