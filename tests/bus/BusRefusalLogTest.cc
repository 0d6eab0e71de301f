// The trace of what a listener turned away: refusals of different reasons within one minute
// each keep their own count and sources in the line that is due.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "framework/TQSMCAPI/RefusalLog.h"
#include "support/kiv_test.h"

namespace {

using kiv::bus::RefusalLog;
using namespace std::chrono_literals;

TEST(BusRefusalLog, EachReasonHasItsOwnCountAndSources) {
  RefusalLog log("endpoint busRefusals");
  const RefusalLog::Clock::time_point start = RefusalLog::Clock::now();
  // The first after a quiet minute is traced at once.
  log.note("uid 1", "for want of descriptors", start);
  EXPECT_TRUE(kivtest::waitFor([] {
    return kivtest::traced("endpoint busRefusals: turned away 1 connection(s) for want of descriptors, from uid 1 (1)");
  }));
  EXPECT_EQ(log.due(), RefusalLog::Clock::time_point::max());

  // The rest of the minute is only counted, whatever the reason.
  for (int i = 0; i < 4; ++i) log.note("uid 2", "to make room beyond the cap", start + 1s);
  log.note("uid 3", "for want of descriptors", start + 2s);
  log.note("uid 3", "for want of descriptors", start + 3s);
  log.note("uid 2", "for want of descriptors", start + 4s);
  EXPECT_EQ(log.due(), start + 1min);
  log.flush(start + 59s);
  EXPECT_EQ(kivtest::countTrace("endpoint busRefusals: turned away"), 1);

  log.flush(start + 1min);
  EXPECT_TRUE(kivtest::waitFor([] {
    return kivtest::traced(
               "endpoint busRefusals: turned away 4 connection(s) to make room beyond the cap, from uid 2 (4)") &&
           kivtest::traced(
               "endpoint busRefusals: turned away 3 connection(s) for want of descriptors, from uid 3 (2), uid 2 (1)");
  })) << kivtest::countTrace("endpoint busRefusals: turned away") << " lines";
  EXPECT_EQ(kivtest::countTrace("endpoint busRefusals: turned away"), 3);
  // Nothing left over for the next minute.
  EXPECT_EQ(log.due(), RefusalLog::Clock::time_point::max());
}

}  // namespace
