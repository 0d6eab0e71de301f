// The change script runs hidden through CreateProcessW, its command line as configured,
// and is waited for; local addresses come from GetAdaptersAddresses, or from
// GetAdaptersInfo when the newer query gives nothing.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <string>

#include "platform/address_list.h"
#include "platform/process.h"
#include "tqNotify/CTQIP.h"

namespace {

std::filesystem::path scratchDirectory() {
  wchar_t temporary[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temporary);
  auto directory = std::filesystem::path(temporary) /
                   (L"kiv script " + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::create_directories(directory);
  return directory;
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  return text;
}

TEST(ChangeScript, CmdScriptRunsHiddenWithItsArgumentsAndIsWaitedFor) {
  const auto directory = scratchDirectory();
  const auto script = directory / "on change.cmd";
  {
    std::ofstream out(script);
    // Slow enough that a caller which did not wait would look for the file too early.
    out << "@echo off\r\nping -n 2 127.0.0.1 > nul\r\necho %~1> \"%~dp0ran.txt\"\r\n";
  }
  auto process = kiv::platform::Process::startHidden(L"\"" + script.wstring() + L"\" second");
  ASSERT_TRUE(process);
  EXPECT_EQ(process->wait(kiv::platform::kInfinite), kiv::platform::kWaitObject0);
  EXPECT_EQ(contents(directory / "ran.txt"), "second");
  process.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

std::list<std::wstring> texts(const std::list<TQStringW>& list) {
  std::list<std::wstring> result;
  for (const auto& element : list) result.push_back(element.c_str());
  return result;
}

std::list<std::wstring> widened(const std::vector<std::string>& addresses) {
  std::list<std::wstring> result;
  for (const auto& address : addresses) result.emplace_back(address.begin(), address.end());
  return result;
}

TEST(LocalAddresses, AdapterQueryAndItsIPv4Fallback) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const auto all = kiv::platform::queryAdapterAddresses();
  const auto ipv4 = kiv::platform::queryIPv4AdapterAddresses();
  ASSERT_TRUE(all && ipv4);
  ASSERT_FALSE(all->empty());

  std::list<TQStringW> list;
  CTQIP::GetLocalAddresses(list, false);
  EXPECT_EQ(texts(list), widened(*all));

  // The newer query answers nothing: the list comes from GetAdaptersInfo.
  kiv::platform::testing::setAdapterAddressesAnswer(kiv::platform::testing::AddressQueryAnswer{});
  CTQIP::GetLocalAddresses(list, false);
  kiv::platform::testing::setAdapterAddressesAnswer(std::nullopt);
  EXPECT_EQ(texts(list), widened(*ipv4));
  EXPECT_FALSE(list.empty());
  WSACleanup();
}

}  // namespace
