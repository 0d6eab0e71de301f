// Address scope classification and policy ordering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmsrslvr.h"

TEST(Resolver, ScopeOfAddressTexts) {
  struct Case {
    const wchar_t* text;
    uint32_t scope;
  };
  const Case cases[] = {
      {L"127.0.0.1", kResScopeLoopback},        {L"127.255.0.9/8", kResScopeLoopback},
      {L"::1", kResScopeLoopback},              {L"169.254.3.4", kResScopeLinkLocal},
      {L"fe80::1%4", kResScopeLinkLocal},       {L"fe80::1%4/64", kResScopeLinkLocal},
      {L"febf::1", kResScopeLinkLocal},         {L"10.1.2.3", kResScopeSiteLocal},
      {L"172.16.0.1", kResScopeSiteLocal},      {L"172.31.255.255", kResScopeSiteLocal},
      {L"172.32.0.1", 0},                       {L"172.15.0.1", 0},
      {L"192.168.1.1/24", kResScopeSiteLocal},  {L"fec0::1", kResScopeSiteLocal},
      {L"fd12:3456::1", kResScopeSiteLocal},    {L"fc00::1", kResScopeSiteLocal},
      {L"0.0.0.0", kResScopeUnspecified},       {L"::", kResScopeUnspecified},
      {L"224.0.0.1", kResScopeMulticast},       {L"239.255.255.250", kResScopeMulticast},
      {L"ff02::1", kResScopeMulticast},         {L"::ffff:10.0.0.1", kResScopeSiteLocal},
      {L"::ffff:8.8.8.8", 0},                   {L"8.8.8.8", 0},
      {L"2001:db8::1", 0},                      {L"fe00::1", 0},
      {L"", 0},                                 {L"not an address", 0},
      {L"1.2.3.4/abc", 0},                      {L"256.1.1.1", 0},
      {L"10.0.0.1\u00e9", 0},                   {nullptr, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResGetAddressScopeW(c.text), c.scope) << (c.text ? c.text : L"(null)");
  }
}

TEST(Resolver, OrdersByPrecedenceThenLabelKeepingTheGivenOrderOtherwise) {
  const wchar_t* input[] = {L"fe80::1%4", L"10.0.0.1", L"2002:c000:204::1", L"::1",
                            L"fd00::5",   L"192.0.2.7", L"2001:db8::1",     L"garbage",
                            L"2001:0:1::1", nullptr};
  wchar_t** ordered = nullptr;
  ASSERT_EQ(ResApplyPolicyW(0, input, &ordered), 0);
  ASSERT_NE(ordered, nullptr);
  std::vector<std::wstring> got;
  for (wchar_t** p = ordered; *p != nullptr; ++p) got.emplace_back(*p);
  ResFreeMemory(ordered);
  // ::1 (50); native IPv6 incl. link-local (40, in given order); IPv4 (35, given order);
  // 6to4 (30); Teredo (5); ULA (3); text that is no address last.
  const std::vector<std::wstring> expected = {L"::1",      L"fe80::1%4",   L"2001:db8::1",
                                              L"10.0.0.1", L"192.0.2.7",   L"2002:c000:204::1",
                                              L"2001:0:1::1", L"fd00::5",  L"garbage"};
  EXPECT_EQ(got, expected);
}

TEST(Resolver, EmptyAndMissingInput) {
  const wchar_t* empty[] = {nullptr};
  wchar_t** ordered = nullptr;
  ASSERT_EQ(ResApplyPolicyW(0, empty, &ordered), 0);
  ASSERT_NE(ordered, nullptr);
  EXPECT_EQ(ordered[0], nullptr);
  ResFreeMemory(ordered);
  EXPECT_NE(ResApplyPolicyW(0, nullptr, &ordered), 0);
  EXPECT_NE(ResApplyPolicyW(0, empty, nullptr), 0);
  ResFreeMemory(nullptr);
}
