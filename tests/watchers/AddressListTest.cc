// The local address list through the platform's query seam (fallback, zones, scope filter,
// resolver order and failure, traces) and the real queries.
#ifndef _WIN32
#include <dlfcn.h>
#include <net/if.h>
#endif

#include <algorithm>
#include <atomic>
#include <list>

#include "WatcherHarness.h"
#include "platform/address_list.h"
#include "tqNotify/CTQIP.h"

// The resolver fails only when out of memory. This program's definition comes first in
// the symbol lookup of libtqNotify.so: it fails on request and otherwise calls the real one.
// A Windows DLL binds its imports to the exporting DLL, so there the failure is not
// injected and the test of it is Linux's.
static std::atomic<bool> failResolver{false};
#ifndef _WIN32
extern "C" int ResApplyPolicyW(int reserved, const wchar_t* const* addresses, wchar_t*** ordered) {
  using Real = int (*)(int, const wchar_t* const*, wchar_t***);
  static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ResApplyPolicyW"));
  return failResolver ? 8 : real(reserved, addresses, ordered);
}
#endif

namespace {

using kiv::platform::testing::AddressQueryAnswer;
using Texts = std::vector<std::wstring>;

Texts addresses(bool applyPolicy) {
  std::list<TQStringW> list{L"stale"};
  CTQIP::GetLocalAddresses(list, applyPolicy);
  Texts texts;
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
  static void adapters(std::vector<std::string> texts, bool failed = false) {
    kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{failed, std::move(texts)});
  }

  watchertest::TraceSince trace;
};

TEST_F(AddressListTest, PolicyOffKeepsEveryAddressInSystemOrder) {
  adapters({"127.0.0.1", "10.1.2.3", "fe80::1%3", "2001:db8::7", ""});
  EXPECT_EQ(addresses(false), (Texts{L"127.0.0.1", L"10.1.2.3", L"fe80::1%3", L"2001:db8::7", L""}));
  EXPECT_TRUE(trace.traced("Added local address fe80::1%3"));
  EXPECT_FALSE(trace.traced("filtered"));
}

TEST_F(AddressListTest, PolicyDropsUnusableScopesClassifiedWithoutTheZoneThenOrders) {
  adapters({"2001:0:1::7", "127.0.0.1", "fe80::1%3", "192.0.2.10", "10.1.2.3", "fe80::2%4/64", "2a00::1"});
  // Default policy precedence: native IPv6 40, IPv4 35, Teredo (2001::/32) 5.
  EXPECT_EQ(addresses(true), (Texts{L"2a00::1", L"192.0.2.10", L"2001:0:1::7"}));
  EXPECT_TRUE(trace.traced("Address 127.0.0.1, scope type 2, filtered"));
  EXPECT_TRUE(trace.traced("Address fe80::1%3, scope type 4, filtered"));
  EXPECT_TRUE(trace.traced("Address fe80::2%4/64, scope type 4, filtered"));
  EXPECT_TRUE(trace.traced("Address 10.1.2.3, scope type 8, filtered"));
}

#ifndef _WIN32
TEST_F(AddressListTest, ResolverFailureKeepsTheFilteredListInSystemOrder) {
  adapters({"2001:0:1::7", "127.0.0.1", "192.0.2.10", "2a00::1"});
  failResolver = true;
  EXPECT_EQ(addresses(true), (Texts{L"2001:0:1::7", L"192.0.2.10", L"2a00::1"}));
  EXPECT_TRUE(trace.traced("Resolver was unable to re-order the address list according to policy"));
}
#endif

TEST_F(AddressListTest, EverythingFilteredLeavesAnEmptyListAndSaysSo) {
  adapters({"127.0.0.1", "::1", "fe80::1%2"});
  EXPECT_TRUE(addresses(true).empty());
  EXPECT_TRUE(trace.traced("No local IP addresses found!"));
  EXPECT_FALSE(trace.traced("Resolver was unable"));
}

TEST_F(AddressListTest, OlderQueryOnlyWhenTheNewerYieldsNothing) {
  kiv::platform::testing::setIPv4AdapterAddressesAnswer(AddressQueryAnswer{false, {"0.0.0.0", "192.0.2.7"}});
  adapters({"2001:db8::7"});
  EXPECT_EQ(addresses(false), Texts{L"2001:db8::7"});
  adapters({});
  EXPECT_EQ(addresses(false), (Texts{L"0.0.0.0", L"192.0.2.7"}));
  adapters({}, true);
  EXPECT_EQ(addresses(false), (Texts{L"0.0.0.0", L"192.0.2.7"}));
}

TEST_F(AddressListTest, TheMonitorsAddressesFallBackToTheOlderQueryAsTheListDoes) {
  kiv::platform::testing::setIPv4AdapterAddressesAnswer(AddressQueryAnswer{false, {"192.0.2.7"}});
  adapters({"2001:db8::7"});
  EXPECT_EQ(kiv::platform::queryUsableAddresses(), std::vector<std::string>{"2001:db8::7"});
  adapters({});
  EXPECT_EQ(kiv::platform::queryUsableAddresses(), std::vector<std::string>{"192.0.2.7"});
  adapters({}, true);
  EXPECT_EQ(kiv::platform::queryUsableAddresses(), std::vector<std::string>{"192.0.2.7"});
  // Only when neither query answers are the addresses unreadable.
  kiv::platform::testing::setIPv4AdapterAddressesAnswer(AddressQueryAnswer{true, {}});
  EXPECT_FALSE(kiv::platform::queryUsableAddresses());
  adapters({});
  EXPECT_EQ(kiv::platform::queryUsableAddresses(), std::vector<std::string>{});
}

TEST_F(AddressListTest, RealQueriesIncludingTheRetryWithTheAskedSize) {
  const auto both = kiv::platform::queryAdapterAddresses();
  ASSERT_TRUE(both);
  EXPECT_NE(std::find(both->begin(), both->end(), "127.0.0.1"), both->end());
  std::vector<std::vector<std::string>> answers;
  for (std::size_t start : {std::size_t{4096}, std::size_t{1}}) {
    kiv::platform::testing::setIPv4QueryBufferSize(start);
    const auto ipv4 = kiv::platform::queryIPv4AdapterAddresses();
    ASSERT_TRUE(ipv4) << "starting buffer " << start;
    answers.push_back(*ipv4);
  }
  EXPECT_EQ(answers[1], answers[0]) << "the retry with the asked size gives the whole list";
  // The older query leaves out the loopback adapter on Windows.
#ifndef _WIN32
  EXPECT_NE(std::find(answers[0].begin(), answers[0].end(), "127.0.0.1"), answers[0].end());
#endif
}

// Addresses set up in a network namespace of the test's own.
#ifndef _WIN32
TEST_F(AddressListTest, LinkLocalAddressReadsWithItsInterfaceIndex) {
  std::string why;
  if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
  watchertest::ip("link add kivw0 type veth peer name kivw1");
  watchertest::ip("addr add fe80::abcd/64 dev kivw0 nodad");
  const std::string expected = "fe80::abcd%" + std::to_string(::if_nametoindex("kivw0"));
  const auto listed = addresses(false);
  EXPECT_NE(std::find(listed.begin(), listed.end(), watchertest::wide(expected)), listed.end()) << expected;
}

TEST_F(AddressListTest, AddressesComeAdapterByAdapterInInterfaceOrder) {
  std::string why;
  if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
  watchertest::ip("link add kivg0 type veth peer name kivg1");
  // Each interface holds both families; kivg0 also an address under a label of its own.
  watchertest::ip("addr add 10.9.0.1/24 dev kivg0");
  watchertest::ip("addr add fd00:9::1/64 dev kivg0 nodad");
  watchertest::ip("addr add 10.9.1.1/24 dev kivg1");
  watchertest::ip("addr add 10.9.0.2/24 dev kivg0 label kivg0:7");
  watchertest::ip("addr add fd00:9:1::1/64 dev kivg1 nodad");
  watchertest::ip("addr add fd00:9::2/64 dev kivg0 nodad");

  // Interfaces come in the order of their numbers; IPv6 addresses of an interface are
  // kept newest first by the kernel.
  std::vector<std::pair<unsigned, Texts>> byInterface = {
      {::if_nametoindex("lo"), {L"127.0.0.1", L"::1"}},
      {::if_nametoindex("kivg0"), {L"10.9.0.1", L"10.9.0.2", L"fd00:9::2", L"fd00:9::1"}},
      {::if_nametoindex("kivg1"), {L"10.9.1.1", L"fd00:9:1::1"}}};
  std::sort(byInterface.begin(), byInterface.end());
  Texts expected;
  for (const auto& [index, texts] : byInterface) expected.insert(expected.end(), texts.begin(), texts.end());
  EXPECT_EQ(addresses(false), expected);
}

#endif

}  // namespace
