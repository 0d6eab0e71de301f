// The trace object from module "tqTrace": line layout and level filtering.
#include <gtest/gtest.h>

#include "ITQTrace.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "tqNotify/framework/TQptr.h"

TEST(TraceObject, WritesLinesAtOrBelowTheConfiguredLevelOnly) {
  kivtest::setEnvironment("KIV_TRACE_LEVEL", "2", true);
  TQptr<ITQTrace> tracer;
  ASSERT_TRUE(tracer.CreateInstance(L"tqTrace", "ITQTrace", L"TQNotify"));
  EXPECT_EQ(tracer->open(L"TQNotify", 8, 2, nullptr, 0), 0);
  EXPECT_EQ(tracer->level(), 2);

  tracer->traceAt(2, ".\\CTQIP", 123, 2, L"CTQIP::GetLocalAddresses", L"Added local address %s (%d)",
                  L"10.1.2.3", 7);
  tracer->traceAt(3, ".\\CTQIP", 124, 2, L"CTQIP::GetLocalAddresses", L"detail %s", L"hidden-at-3");
  tracer->trace(L"tqNotify", 1, L"%s: start-up failed with %d", L"CTQNotify::Initialize", 42);
  tracer->trace(L"tqNotify", 4, L"fine detail %s", L"hidden-at-4");

  EXPECT_TRUE(kivtest::traced("CTQIP::GetLocalAddresses (.\\CTQIP:123): Added local address 10.1.2.3 (7)"));
  EXPECT_TRUE(kivtest::traced("CTQNotify::Initialize: start-up failed with 42"));
  EXPECT_FALSE(kivtest::traced("hidden-at-3"));
  EXPECT_FALSE(kivtest::traced("hidden-at-4"));
}
