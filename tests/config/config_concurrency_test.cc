// Many writers at once, in threads of this process and in other processes: every write
// lands, and readers see only whole values.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_util.h"
#include "support/kiv_test.h"

using configtest::Config;

namespace {

constexpr int kThreads = 6;
constexpr int kWritesPerThread = 150;

std::wstring section(int writer) { return L"dlox/agent/units/w" + std::to_wstring(writer); }

TEST(ConfigConcurrency, ThreadsWritingAndReadingLoseNothing) {
  std::atomic<int> failures{0};
  std::atomic<bool> writing{true};
  // A reader that keeps its memory fresh while the writers go on.
  std::thread reader([&] {
    Config config;
    if (config.get() == nullptr) {
      ++failures;
      return;
    }
    while (writing) {
      auto value = configtest::text(config.get(), L"dlox/agent/units/w0", L"last");
      if (value && value->rfind(L"value-", 0) != 0) ++failures;
      configtest::sections(config.get(), L"dlox/agent/units");
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kThreads; ++w) {
    writers.emplace_back([&, w] {
      const std::wstring name = section(w);
      for (int i = 0; i < kWritesPerThread; ++i) {
        Config config;  // a fresh object per write, like the units code
        if (config.get() == nullptr) {
          ++failures;  // the store could not be opened: traced with the reason
          continue;
        }
        const std::wstring key = L"k" + std::to_wstring(i);
        if (config->setNumber(name.c_str(), key.c_str(), i, 0) != 0) ++failures;
        if (config->setStringW(name.c_str(), L"last", (L"value-" + std::to_wstring(i)).c_str(), 0) != 0) ++failures;
        if (configtest::number(config.get(), name.c_str(), key.c_str()) != i) ++failures;
      }
    });
  }
  for (auto& t : writers) t.join();
  writing = false;
  reader.join();
  EXPECT_EQ(failures, 0) << [] {
    std::string errors;  // the store traces why it could not be opened or written
    for (const auto& line : kivtest::traceLines()) {
      if (line.find(" ERROR ") != std::string::npos) errors += line + "\n";
    }
    return errors;
  }();

  Config config;
  EXPECT_EQ(configtest::sections(config.get(), L"dlox/agent/units").size(), static_cast<size_t>(kThreads));
  for (int w = 0; w < kThreads; ++w) {
    for (int i = 0; i < kWritesPerThread; ++i) {
      ASSERT_EQ(configtest::number(config.get(), section(w).c_str(), (L"k" + std::to_wstring(i)).c_str()), i);
    }
  }
}

TEST(ConfigConcurrency, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 4;
#ifdef _WIN32
  constexpr int kWrites = 6;  // a process start costs most of a second under Wine
#else
  constexpr int kWrites = 25;
#endif
  Config config;
  ASSERT_EQ(config->setNumber(L"shared", L"before", 1, 0), 0);  // this process holds the store open meanwhile
  // One writer thread per process slot, each starting its kiv processes one after the other.
  std::vector<std::thread> writers;
  std::vector<std::string> failures(kProcesses);
  for (int p = 0; p < kProcesses; ++p) {
    writers.emplace_back([&, p] {
      for (int i = 0; i < kWrites && failures[p].empty(); ++i) {
        std::string output;
        const std::string key = " k" + std::to_string(i) + " " + std::to_string(i);
        if (configtest::kiv("config set shared/p" + std::to_string(p) + key + " --number", &output) != 0) {
          failures[p] = output.empty() ? "kiv failed" : output;
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  for (const auto& failure : failures) ASSERT_EQ(failure, "");
  for (int p = 0; p < kProcesses; ++p) {
    const std::wstring name = L"shared/p" + std::to_wstring(p);
    for (int i = 0; i < kWrites; ++i) {
      ASSERT_EQ(configtest::number(config.get(), name.c_str(), (L"k" + std::to_wstring(i)).c_str()), i);
    }
  }
  EXPECT_EQ(configtest::sections(config.get(), L"shared").size(), static_cast<size_t>(kProcesses));
}

}  // namespace
