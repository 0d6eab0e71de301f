// Notification handling against the bus it rides on: a Docked message from a sender to the
// host sink beside the bare bus round trip to an endpoint that only answers, and a Logon on
// NT 4.0 (two units written under the units lock). Runs in a temporary KIV_HOME.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "ITQEventSink.h"
#include "TQSMCAPI.h"
#include "platform/version.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqUtilities.h"
#include "support/bench_home.h"

namespace {

class CountingSink : public ITQEventSink {
 public:
  bool OnEventA(int, void*, const TQStringA&, const TQStringA&, const TQStringA&) override {
    return true;
  }
  bool OnEventW(int, void*, const TQStringW&, const TQStringW&, const TQStringW&) override {
    events.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  std::atomic<long> events{0};
};

CountingSink g_sink;
CTQNotify* g_notifier = nullptr;
HTQMODULE g_module = nullptr;
SMENDPOINT g_echo = 0;

uint32_t answerOnly(void*, void*, void*, int, SmMessage*, void*) { return kSmTaken; }

void send(benchmark::State& state, const char* endpoint, const std::string& text) {
  uint32_t status = 0;
  if (SmSend(endpoint, text.c_str(), static_cast<uint32_t>(text.size()), &status, 10000) != 0 ||
      status != kSmTaken) {
    state.SkipWithError("message not taken");
  }
}

void BM_BareBusRoundTrip(benchmark::State& state) {
  const std::string text =
      "<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>";
  for (auto _ : state) send(state, "benchEcho", text);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareBusRoundTrip)->UseRealTime();

void BM_DockedToHostSink(benchmark::State& state) {
  const std::string text =
      "<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>";
  const long before = g_sink.events.load();
  for (auto _ : state) send(state, "tqNotify", text);
  if (g_sink.events.load() - before != static_cast<long>(state.iterations())) {
    state.SkipWithError("not every message reached the sink");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DockedToHostSink)->UseRealTime();

void BM_LogonNt4(benchmark::State& state) {
  kiv::platform::testing::setWindowsVersion("4.0");
  long n = 0;
  for (auto _ : state) {
    const std::string user = "user" + std::to_string(n++ % 64);
    send(state, "tqNotify",
         "<Notification Type=\"Logon\"><User>" + user + "</User><Domain>CORP</Domain>"
         "<computerUserUnitName>.|CORP|" + user + "</computerUserUnitName><userUnitName>CORP|" +
         user + "</userUnitName><sessionID>1</sessionID></Notification>");
  }
  kiv::platform::testing::setWindowsVersion(nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogonNt4)->UseRealTime();

bool start() {
  const unsigned char options[4] = {1, 0, 0, 0};
  if (SmInitialize(options, nullptr) != 0 ||
      SmOpenEndPointU("benchEcho", 0, answerOnly, 0, nullptr, &g_echo) != 0) {
    return false;
  }
  g_module = TQFactory_LoadExW(L"tqNotify", 1);
  if (g_module == nullptr) return false;
  g_notifier = dynamic_cast<CTQNotify*>(TQFactory_CreateInstanceExW(g_module, "ITQPlugin", 2, L"bench", 1));
  if (g_notifier == nullptr) return false;
  PluginInitInfo info;
  info.sink = &g_sink;
  return g_notifier->Initialize(std::move(info));
}

void stop() {
  if (g_notifier != nullptr) {
    g_notifier->ShutdownW(TQStringW(), 0);
    g_notifier->Release();
  }
  if (g_module != nullptr) TQFactory_Unload(g_module);
  if (g_echo != 0) SmCloseEndPoint(g_echo);
  SmDeinitialize();
}

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  if (!home) return 1;
  setenv("KIV_TRACE_LEVEL", "1", 1);
  int result = 1;
  if (start()) {
    result = kivbench::runBenchmarks(argc, argv);
  } else {
    std::fprintf(stderr, "bench_notifier: the notifier did not start\n");
  }
  stop();
  return result;
}
