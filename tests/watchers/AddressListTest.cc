// The local address list: query fallback, zone handling, scope filter, resolver order and
// its traces, driven through the platform's query seam, plus the real queries.
#include <dlfcn.h>
#include <net/if.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "platform/address_list.h"
#include "WatcherHarness.h"
#include "support/kiv_test.h"
#include "tqNotify/CTQIP.h"

// Fault injection for the resolver, which fails only when out of memory: this program's
// definition comes first in the symbol lookup of libtqNotify.so, answers "out of memory"
// while failResolver is set and otherwise hands the call to the real library.
namespace {
std::atomic<bool> failResolver{false};
}

extern "C" int ResApplyPolicyW(int reserved, const wchar_t* const* addresses, wchar_t*** ordered) {
  if (failResolver) return 8;
  using Real = int (*)(int, const wchar_t* const*, wchar_t***);
  static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ResApplyPolicyW"));
  return real(reserved, addresses, ordered);
}

namespace {

using kiv::platform::testing::AddressQueryAnswer;

std::vector<std::wstring> addresses(bool applyPolicy, std::list<TQStringW> list = {}) {
  CTQIP::GetLocalAddresses(list, applyPolicy);
  std::vector<std::wstring> texts;
  for (const auto& text : list) texts.push_back(text.str());
  return texts;
}

class AddressListTest : public ::testing::Test {
 protected:
  void TearDown() override {
    kiv::platform::testing::setAdapterAddressesAnswer(std::nullopt);
    kiv::platform::testing::setIPv4AdapterAddressesAnswer(std::nullopt);
    kiv::platform::testing::setIPv4QueryBufferSize(4096);
    failResolver = false;
  }
  static void adapters(std::vector<std::string> texts) {
    kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{false, std::move(texts)});
  }
  static void ipv4Adapters(std::vector<std::string> texts) {
    kiv::platform::testing::setIPv4AdapterAddressesAnswer(AddressQueryAnswer{false, std::move(texts)});
  }
};

TEST_F(AddressListTest, PolicyOffKeepsEveryAddressInSystemOrderAndReplacesOldContent) {
  adapters({"127.0.0.1", "10.1.2.3", "fe80::1%3", "2001:db8::7", "::1", ""});
  const std::list<TQStringW> stale{L"192.0.2.99"};
  EXPECT_EQ(addresses(false, stale),
            (std::vector<std::wstring>{L"127.0.0.1", L"10.1.2.3", L"fe80::1%3", L"2001:db8::7",
                                       L"::1", L""}));
  EXPECT_TRUE(kivtest::traced("Added local address fe80::1%3"));
  EXPECT_FALSE(kivtest::traced("filtered"));
}

TEST_F(AddressListTest, PolicyDropsUnusableScopesClassifyingWithoutTheZone) {
  adapters({"127.0.0.1", "fe80::1%3", "192.0.2.10", "10.1.2.3", "fe80::2%4/64", "2001:db8::7"});
  const auto kept = addresses(true);
  // The resolver decides the order; only the set is ours to check.
  EXPECT_EQ(std::set<std::wstring>(kept.begin(), kept.end()),
            (std::set<std::wstring>{L"192.0.2.10", L"2001:db8::7"}));
  EXPECT_TRUE(kivtest::traced("Address 127.0.0.1, scope type 2, filtered"));
  // Classified as fe80::1 and fe80::2/64: the zone alone must not hide the link-local scope.
  EXPECT_TRUE(kivtest::traced("Address fe80::1%3, scope type 4, filtered"));
  EXPECT_TRUE(kivtest::traced("Address fe80::2%4/64, scope type 4, filtered"));
  EXPECT_TRUE(kivtest::traced("Address 10.1.2.3, scope type 8, filtered"));
  EXPECT_FALSE(kivtest::traced("Resolver was unable"));
}

TEST_F(AddressListTest, PolicyOrderComesFromTheResolver) {
  adapters({"2001:0:1::7", "192.0.2.10", "2a00::1"});
  // Default policy precedence: native IPv6 40, IPv4 35, Teredo (2001::/32) 5.
  EXPECT_EQ(addresses(true), (std::vector<std::wstring>{L"2a00::1", L"192.0.2.10", L"2001:0:1::7"}));
}

TEST_F(AddressListTest, ResolverFailureKeepsTheFilteredListInSystemOrder) {
  adapters({"2001:db8::7", "127.0.0.1", "192.0.2.10", "2a00::1"});
  failResolver = true;
  EXPECT_EQ(addresses(true), (std::vector<std::wstring>{L"2001:db8::7", L"192.0.2.10", L"2a00::1"}));
  EXPECT_TRUE(kivtest::traced("Resolver was unable to re-order the address list according to policy"));
}

TEST_F(AddressListTest, EverythingFilteredLeavesAnEmptyListAndSaysSo) {
  adapters({"127.0.0.1", "::1", "fe80::1%2"});
  EXPECT_TRUE(addresses(true).empty());
  EXPECT_TRUE(kivtest::traced("No local IP addresses found!"));
  EXPECT_FALSE(kivtest::traced("Resolver was unable"));
}

TEST_F(AddressListTest, OlderQueryOnlyWhenTheNewerYieldsNothing) {
  ipv4Adapters({"0.0.0.0", "192.0.2.7"});

  adapters({"2001:db8::7"});
  EXPECT_EQ(addresses(false), std::vector<std::wstring>{L"2001:db8::7"});

  adapters({});
  EXPECT_EQ(addresses(false), (std::vector<std::wstring>{L"0.0.0.0", L"192.0.2.7"}));

  kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{true, {}});
  EXPECT_EQ(addresses(false), (std::vector<std::wstring>{L"0.0.0.0", L"192.0.2.7"}));

  kiv::platform::testing::setIPv4AdapterAddressesAnswer(AddressQueryAnswer{true, {}});
  EXPECT_TRUE(addresses(false).empty());
  EXPECT_TRUE(kivtest::traced("No local IP addresses found!"));
}

TEST_F(AddressListTest, RealQueriesSeeTheLoopbackAddress) {
  const auto both = kiv::platform::queryAdapterAddresses();
  ASSERT_TRUE(both.has_value());
  EXPECT_NE(std::find(both->begin(), both->end(), "127.0.0.1"), both->end());

  // A starting buffer too small for even one interface forces the retry with the size
  // the system asked for.
  for (std::size_t start : {std::size_t{4096}, std::size_t{1}}) {
    kiv::platform::testing::setIPv4QueryBufferSize(start);
    const auto ipv4 = kiv::platform::queryIPv4AdapterAddresses();
    ASSERT_TRUE(ipv4.has_value()) << "starting buffer " << start;
    EXPECT_NE(std::find(ipv4->begin(), ipv4->end(), "127.0.0.1"), ipv4->end());
    for (const auto& text : *ipv4) EXPECT_EQ(text.find(':'), std::string::npos) << text;
  }
}

TEST_F(AddressListTest, LinkLocalAddressReadsWithItsInterfaceIndex) {
  std::string why;
  if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
  watchertest::ip("link add kivw0 type veth peer name kivw1");
  watchertest::ip("addr add fe80::abcd/64 dev kivw0 nodad");
  const std::string expected = "fe80::abcd%" + std::to_string(::if_nametoindex("kivw0"));

  const auto both = kiv::platform::queryAdapterAddresses();
  ASSERT_TRUE(both.has_value());
  EXPECT_NE(std::find(both->begin(), both->end(), expected), both->end());
  const auto listed = addresses(false);
  EXPECT_NE(std::find(listed.begin(), listed.end(), std::wstring(expected.begin(), expected.end())),
            listed.end());
}

}  // namespace
