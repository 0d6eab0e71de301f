// Feeds arbitrary bytes as bus messages through the notifier's bus callback into a live
// notifier with a recording host sink, in a temporary KIV_HOME.
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ITQEventSink.h"
#include "TQSMCAPI.h"
#include "platform/version.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqUtilities.h"

namespace {

class CountingSink : public ITQEventSink {
 public:
  bool OnEventA(int, void*, const TQStringA&, const TQStringA&, const TQStringA&) override {
    ++events;
    return true;
  }
  bool OnEventW(int, void*, const TQStringW&, const TQStringW&, const TQStringW&) override {
    ++events;
    return true;
  }
  std::atomic<long> events{0};
};

// What the bus hands a callback for a message from this machine.
struct Origin {
  void* first = nullptr;
  void* third = nullptr;
};

Origin g_origin;
CountingSink g_sink;
CTQNotify* g_notifier = nullptr;

uint32_t captureOrigin(void* first, void*, void* third, int, SmMessage*, void*) {
  g_origin = {first, third};
  return kSmTaken;
}

// Learns the local origin from one real delivery on a scratch endpoint.
bool learnLocalOrigin() {
  const unsigned char options[4] = {1, 0, 0, 0};
  SMENDPOINT endpoint = 0;
  if (SmInitialize(options, nullptr) != 0) return false;
  if (SmOpenEndPointU("fuzzOrigin", 0, captureOrigin, 0, nullptr, &endpoint) != 0) return false;
  uint32_t status = 0;
  const int sent = SmSend("fuzzOrigin", "<x/>", 4, &status, 10000);
  SmCloseEndPoint(endpoint);
  SmDeinitialize();
  return sent == 0 && g_origin.third != nullptr;
}

bool startNotifier() {
  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  if (module == nullptr) return false;
  g_notifier = dynamic_cast<CTQNotify*>(TQFactory_CreateInstanceExW(module, "ITQPlugin", 2, L"fuzz", 1));
  if (g_notifier == nullptr) return false;
  PluginInitInfo info;
  info.sink = &g_sink;
  return g_notifier->Initialize(std::move(info));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // scripts/fuzz gives a KIV_HOME it removes afterwards; otherwise make one.
  char made[] = "/tmp/kiv-fuzz-XXXXXX";
  if (getenv("KIV_HOME") == nullptr) {
    if (mkdtemp(made) == nullptr) return 1;
    setenv("KIV_HOME", made, 1);
  }
  const char* home = getenv("KIV_HOME");
  setenv("KIV_TRACE_LEVEL", "0", 1);
  // NT 4.0 handles every message type and never waits for a session's user.
  kiv::platform::testing::setWindowsVersion("4.0");
  if (!learnLocalOrigin() || !startNotifier()) {
    std::fprintf(stderr, "fuzz_notifier_messages: the notifier did not start (KIV_HOME %s)\n", home);
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SmMessage message{static_cast<uint32_t>(size), text.c_str()};
  onBusMessage(g_origin.first, nullptr, g_origin.third, 1, &message, g_notifier);
  return 0;
}
