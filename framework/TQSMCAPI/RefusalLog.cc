// Counting and tracing turned-away connections.
#include "framework/TQSMCAPI/RefusalLog.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "tqUtilities.h"

namespace kiv::bus {
namespace {

constexpr auto kPeriod = std::chrono::minutes(1);
// Sources named in one line; the rest are only counted.
constexpr size_t kNamedSources = 5;

}  // namespace

void RefusalLog::note(const std::string& from, const char* why, Clock::time_point now) {
  auto reason = std::find_if(reasons_.begin(), reasons_.end(), [&](const Reason& r) { return r.why == why; });
  if (reason == reasons_.end()) {
    reasons_.push_back({why, {}, 0});
    reason = std::prev(reasons_.end());
  }
  ++reason->total;
  // Bounded: a flood from many addresses must not grow the table without end.
  if (reason->counts.size() < 64 || reason->counts.count(from) != 0) ++reason->counts[from];
  flush(now);
}

RefusalLog::Clock::time_point RefusalLog::due() const {
  if (reasons_.empty()) return Clock::time_point::max();
  return lastLine_ == Clock::time_point::min() ? lastLine_ : lastLine_ + kPeriod;
}

void RefusalLog::flush(Clock::time_point now) {
  if (!reasons_.empty() && now >= due()) write(now);
}

void RefusalLog::write(Clock::time_point now) {
  for (const Reason& reason : reasons_) {
    std::vector<std::pair<size_t, std::string>> sources;
    for (const auto& [from, count] : reason.counts) sources.emplace_back(count, from);
    std::sort(sources.rbegin(), sources.rend());
    std::string where;
    for (size_t i = 0; i < sources.size() && i < kNamedSources; ++i) {
      where += (i == 0 ? "" : ", ") + sources[i].second + " (" + std::to_string(sources[i].first) + ")";
    }
    if (sources.size() > kNamedSources) where += ", and others";
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"%hs: turned away %u %hs %hs, from %hs", listener_.c_str(),
                            static_cast<unsigned>(reason.total), what_.c_str(), reason.why.c_str(),
                            where.c_str());
  }
  reasons_.clear();
  lastLine_ = now;
}

}  // namespace kiv::bus
