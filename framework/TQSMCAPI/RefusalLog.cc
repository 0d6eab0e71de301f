// Counting and tracing turned-away connections.
#include "framework/TQSMCAPI/RefusalLog.h"

#include <algorithm>
#include <vector>

#include "tqUtilities.h"

namespace kiv::bus {
namespace {

constexpr auto kPeriod = std::chrono::minutes(1);
// Sources named in one line; the rest are only counted.
constexpr size_t kNamedSources = 5;

}  // namespace

void RefusalLog::note(const std::string& from, const char* why, Clock::time_point now) {
  why_ = why;
  ++total_;
  // Bounded: a flood from many addresses must not grow the table without end.
  if (counts_.size() < 64 || counts_.count(from) != 0) ++counts_[from];
  flush(now);
}

RefusalLog::Clock::time_point RefusalLog::due() const {
  if (total_ == 0) return Clock::time_point::max();
  return lastLine_ == Clock::time_point::min() ? lastLine_ : lastLine_ + kPeriod;
}

void RefusalLog::flush(Clock::time_point now) {
  if (total_ != 0 && now >= due()) write(now);
}

void RefusalLog::write(Clock::time_point now) {
  std::vector<std::pair<size_t, std::string>> sources;
  for (const auto& [from, count] : counts_) sources.emplace_back(count, from);
  std::sort(sources.rbegin(), sources.rend());
  std::string where;
  for (size_t i = 0; i < sources.size() && i < kNamedSources; ++i) {
    where += (i == 0 ? "" : ", ") + sources[i].second + " (" + std::to_string(sources[i].first) + ")";
  }
  if (sources.size() > kNamedSources) where += ", and others";
  TQUtilities_TraceErrorW(L"TQSMCAPI", L"%hs: turned away %u %hs %hs, from %hs",
                          listener_.c_str(), static_cast<unsigned>(total_), what_.c_str(), why_.c_str(),
                          where.c_str());
  total_ = 0;
  counts_.clear();
  lastLine_ = now;
}

}  // namespace kiv::bus
