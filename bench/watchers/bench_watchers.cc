// How long after an address change the host hears code 5 from the IP change monitor, with
// no script configured, with a script that prints nothing and with the same script printing
// 100 lines (read into the trace), measured in a network namespace of its own beside the
// time the bare netlink notification of the same change takes to arrive. Needs root.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "ITQConfig.h"
#include "ITQEventSink.h"
#include "ITQPlugin.h"
#include "platform/address_change.h"
#include "tqUtilities.h"
#include "support/bench_home.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts code-5 reports and stamps the latest one.
class TimingSink : public ITQEventSink {
 public:
  bool OnEventA(int, void*, const TQStringA&, const TQStringA&, const TQStringA&) override { return true; }
  bool OnEventW(int code, void*, const TQStringW&, const TQStringW&, const TQStringW&) override {
    if (code != 5) return true;
    std::lock_guard guard(lock_);
    ++reports_;
    last_ = Clock::now();
    changed_.notify_all();
    return true;
  }
  // The time of report number `count`, or nothing after `limit`.
  std::optional<Clock::time_point> waitForReport(int count, Clock::duration limit = std::chrono::seconds(5)) {
    std::unique_lock guard(lock_);
    if (!changed_.wait_for(guard, limit, [&] { return reports_ >= count; })) return std::nullopt;
    return last_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int reports_ = 0;
  Clock::time_point last_;
};

// Adds or removes 10.203.0.1/32 on "lo" with one rtnetlink request.
bool changeAddress(int fd, bool add) {
  struct {
    nlmsghdr header;
    ifaddrmsg address;
    char attributes[64];
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  request.header.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
  request.address.ifa_family = AF_INET;
  request.address.ifa_prefixlen = 32;
  request.address.ifa_index = if_nametoindex("lo");
  in_addr value{};
  inet_pton(AF_INET, "10.203.0.1", &value);
  for (unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = RTA_LENGTH(sizeof value);
    std::memcpy(RTA_DATA(attribute), &value, sizeof value);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
  }
  if (send(fd, &request, request.header.nlmsg_len, 0) < 0) return false;
  char answer[512];
  const ssize_t got = recv(fd, answer, sizeof answer, 0);
  if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr)))) return false;
  const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(reinterpret_cast<nlmsghdr*>(answer)));
  return error->error == 0;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

double microseconds(Clock::duration span) {
  return std::chrono::duration<double, std::micro>(span).count();
}

struct Plugin {
  HTQMODULE module = nullptr;
  ITQPlugin* plugin = nullptr;
  ~Plugin() {
    if (plugin != nullptr) {
      plugin->ShutdownW(TQStringW(), 0);
      plugin->Release();
    }
    if (module != nullptr) TQFactory_Unload(module);
  }
};

// The same shell loop either way, so that only the printing differs.
const wchar_t* const kScripts[] = {
    L"",
    L"/bin/sh -c 'i=0; while [ $i -lt 100 ]; do i=$((i+1)); done'",
    L"/bin/sh -c 'i=0; while [ $i -lt 100 ]; do i=$((i+1)); echo \"line $i of the script output\"; done'",
};

bool configureScript(const wchar_t* commandLine) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  if (config == nullptr) return false;
  const bool set = config->setStringW(L"dlox/common/kiv/general", L"ipchangescript", commandLine, 0) == 0;
  config->Release();
  return set;
}

// Argument: 0 no script, 1 a silent script, 2 the script printing 100 lines.
void BM_AddressChangeToReport(benchmark::State& state) {
  if (!configureScript(kScripts[state.range(0)])) {
    state.SkipWithError("the configuration store cannot be written");
    return;
  }
  if (unshare(CLONE_NEWNET) != 0 || system("ip link set lo up") != 0) {
    state.SkipWithError("needs a network namespace of its own (run as root)");
    return;
  }
  const int control = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  auto bare = kiv::platform::AddressChangeSocket::open(kiv::platform::AddressFamily::kIPv4);
  if (control < 0 || !bare || !bare->setNonBlocking() || !bare->requestNotification() ||
      !bare->joinChangeGroup()) {
    state.SkipWithError("netlink sockets unavailable");
    return;
  }
  TimingSink sink;
  Plugin loaded;
  loaded.module = TQFactory_LoadExW(L"tqNotify", 1);
  if (loaded.module != nullptr)
    loaded.plugin = dynamic_cast<ITQPlugin*>(TQFactory_CreateInstanceExW(loaded.module, "ITQPlugin", 2, nullptr, 1));
  PluginInitInfo info;
  info.sink = &sink;
  if (loaded.plugin == nullptr || !loaded.plugin->Initialize(std::move(info))) {
    state.SkipWithError("the notifier did not start");
    return;
  }
  // One change the monitor must report before timing starts. Initialize does not wait for
  // the monitor to listen: a change made before it takes its baseline is part of it and
  // goes unreported, so the change is made again until one is reported.
  int expected = 1;
  bool add = false;
  bool warmed = false;
  for (int attempt = 0; attempt < 10 && !warmed; ++attempt) {
    add = !add;
    changeAddress(control, add);
    warmed = sink.waitForReport(expected, std::chrono::seconds(1)).has_value();
  }
  if (!warmed) {
    state.SkipWithError("the monitor reported no change");
    return;
  }
  bare->rearm();

  std::vector<double> bareTimes, reportTimes, gaps;
  for (auto _ : state) {
    add = !add;
    ++expected;
    const auto changed = Clock::now();
    if (!changeAddress(control, add)) {
      state.SkipWithError("address change refused");
      break;
    }
    pollfd entry{bare->handle().fd, POLLIN, 0};
    poll(&entry, 1, 5000);
    const auto notified = Clock::now();
    bare->rearm();
    const auto reported = sink.waitForReport(expected);
    if (!reported) {
      state.SkipWithError("a change was not reported");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(*reported - changed).count());
    bareTimes.push_back(microseconds(notified - changed));
    reportTimes.push_back(microseconds(*reported - changed));
    gaps.push_back(microseconds(*reported - notified));
  }
  state.counters["bare_median_us"] = median(bareTimes);
  state.counters["report_median_us"] = median(reportTimes);
  state.counters["gap_median_us"] = median(gaps);
  close(control);
}
BENCHMARK(BM_AddressChangeToReport)
    ->ArgName("script")
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  return home ? kivbench::runBenchmarks(argc, argv) : 1;
}
