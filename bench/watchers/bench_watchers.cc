// How long after an address change the host hears code 5 from the IP change monitor, with
// no script configured and with a silent script, beside the time the bare netlink
// notification of the same change takes to arrive; and what it costs when the script prints
// 100 lines, which are read into the trace. Each in a network namespace of its own. Needs root.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "ITQEventSink.h"
#include "ITQPlugin.h"
#include "platform/address_change.h"
#include "platform/utf8.h"
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

// The scripts of the output benchmark: the same loop, silent or printing 100 lines, either
// with one `echo` each (a write per line, the way a shell script prints) or all at once at
// the end (the way a program's buffered standard output reaches a pipe).
std::string countingLoop(const char* body) {
  return std::string("i=0; out=; while [ $i -lt 100 ]; do i=$((i+1)); out=\"$out $i\"; ") + body + "done; ";
}
const std::string kSilentScript = countingLoop("") + ": $out";
const std::string kPrintingScripts[] = {
    countingLoop("echo \"line $i of the script output\"; ") + ": $out",
    countingLoop("") + "printf \"line %s of the script output\\n\" $out",
};

// The host runs a script the way an operator configures one.
std::wstring shellCommandLine(const std::string& script) {
  return L"/bin/sh -c '" + kiv::utf::widen(script) + L"'";
}

bool configureScript(const std::wstring& commandLine) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  if (config == nullptr) return false;
  const bool set = config->setStringW(L"dlox/common/kiv/general", L"ipchangescript", commandLine.c_str(), 0) == 0;
  config->Release();
  return set;
}

// The notifier loaded in a network namespace of its own, and the sockets that change and
// watch that namespace's addresses.
class MonitoredNamespace {
 public:
  // Empty when it is ready, or why not.
  std::string start() {
    if (unshare(CLONE_NEWNET) != 0 || system("ip link set lo up") != 0) {
      return "needs a network namespace of its own (run as root)";
    }
    control_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    bare_ = kiv::platform::AddressChangeSocket::open(kiv::platform::AddressFamily::kIPv4);
    if (control_ < 0 || !bare_ || !bare_->setNonBlocking() || !bare_->requestNotification() ||
        !bare_->joinChangeGroup()) {
      return "netlink sockets unavailable";
    }
    loaded_.module = TQFactory_LoadExW(L"tqNotify", 1);
    if (loaded_.module != nullptr) {
      loaded_.plugin =
          dynamic_cast<ITQPlugin*>(TQFactory_CreateInstanceExW(loaded_.module, "ITQPlugin", 2, nullptr, 1));
    }
    PluginInitInfo info;
    info.sink = &sink_;
    if (loaded_.plugin == nullptr || !loaded_.plugin->Initialize(std::move(info))) return "the notifier did not start";
    // Initialize does not wait for the monitor to listen: a change made before it takes its
    // baseline is part of it and goes unreported, so the change is made again until one is.
    for (int attempt = 0; attempt < 10; ++attempt) {
      add_ = !add_;
      changeAddress(control_, add_);
      if (sink_.waitForReport(expected_ + 1, std::chrono::seconds(1))) {
        ++expected_;
        bare_->rearm();
        return {};
      }
    }
    return "the monitor reported no change";
  }
  ~MonitoredNamespace() {
    if (control_ >= 0) close(control_);
  }

  struct Timing {
    double bare;    // until the netlink notification
    double report;  // until code 5
  };
  // One change and its report, or nothing when either failed.
  std::optional<Timing> change() {
    add_ = !add_;
    const auto changed = Clock::now();
    if (!changeAddress(control_, add_)) return std::nullopt;
    pollfd entry{bare_->handle().fd, POLLIN, 0};
    poll(&entry, 1, 5000);
    const auto notified = Clock::now();
    bare_->rearm();
    const auto reported = sink_.waitForReport(++expected_);
    if (!reported) return std::nullopt;
    return Timing{microseconds(notified - changed), microseconds(*reported - changed)};
  }

 private:
  int control_ = -1;
  std::unique_ptr<kiv::platform::AddressChangeSocket> bare_;
  TimingSink sink_;
  Plugin loaded_;
  bool add_ = false;
  int expected_ = 0;
};

// Configures `script` and starts the notifier; false, the benchmark skipped with the
// reason, when either failed.
bool start(benchmark::State& state, MonitoredNamespace& monitored, const std::wstring& script) {
  if (!configureScript(script)) {
    state.SkipWithError("the configuration store cannot be written");
    return false;
  }
  if (const std::string problem = monitored.start(); !problem.empty()) {
    state.SkipWithError(problem.c_str());
    return false;
  }
  return true;
}

// Argument: 0 no script, 1 the silent script.
void BM_AddressChangeToReport(benchmark::State& state) {
  MonitoredNamespace monitored;
  if (!start(state, monitored, state.range(0) == 0 ? L"" : shellCommandLine(kSilentScript))) return;
  std::vector<double> bareTimes, reportTimes, gaps;
  for (auto _ : state) {
    const auto timing = monitored.change();
    if (!timing) {
      state.SkipWithError("a change was not reported");
      break;
    }
    state.SetIterationTime(timing->report / 1e6);
    bareTimes.push_back(timing->bare);
    reportTimes.push_back(timing->report);
    gaps.push_back(timing->report - timing->bare);
  }
  state.counters["bare_median_us"] = median(bareTimes);
  state.counters["report_median_us"] = median(reportTimes);
  state.counters["gap_median_us"] = median(gaps);
}
BENCHMARK(BM_AddressChangeToReport)
    ->ArgName("script")
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

// Runs `script` under /bin/sh the cheapest way a reader can: its output read and thrown
// away. Microseconds from start to exit, or nothing.
std::optional<double> bareRun(const std::string& script) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
  char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
  const auto started = Clock::now();
  pid_t pid = 0;
  const bool spawned = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  char buffer[65536];
  while (spawned && read(ends[0], buffer, sizeof buffer) > 0) {
  }
  close(ends[0]);
  int status = 0;
  if (!spawned || waitpid(pid, &status, 0) != pid) return std::nullopt;
  return microseconds(Clock::now() - started);
}

// What a script's 100 lines of output cost between an address change and its report:
// changes with the silent and with the printing script alternate, so that both meet the
// same machine, and the ratio of their medians is the result. Beside it, the same two
// scripts under a reader that does nothing with the output: what printing costs the script
// itself. Argument: 0 a line per write, 1 the lines in one block.
void BM_ScriptOutputToReport(benchmark::State& state) {
  const std::string& printing = kPrintingScripts[state.range(0)];
  MonitoredNamespace monitored;
  if (!start(state, monitored, shellCommandLine(kSilentScript))) return;
  std::vector<double> silentTimes, printingTimes, bareSilent, barePrinting;
  bool silentFirst = true;
  for (auto _ : state) {
    // Each goes first every other time, so that neither always finds the caches the other
    // one left.
    std::optional<MonitoredNamespace::Timing> silent, printed;
    bool configured = true;
    for (const bool silentNow : {silentFirst, !silentFirst}) {
      configured = configureScript(shellCommandLine(silentNow ? kSilentScript : printing)) && configured;
      (silentNow ? silent : printed) = monitored.change();
    }
    if (!configured || !silent || !printed) {
      state.SkipWithError("a change was not reported");
      break;
    }
    state.SetIterationTime(printed->report / 1e6);
    silentTimes.push_back(silent->report);
    printingTimes.push_back(printed->report);
    for (const bool silentNow : {silentFirst, !silentFirst}) {
      if (const auto bare = bareRun(silentNow ? kSilentScript : printing)) {
        (silentNow ? bareSilent : barePrinting).push_back(*bare);
      }
    }
    silentFirst = !silentFirst;
  }
  const double silentMedian = median(silentTimes);
  const double bareSilentMedian = median(bareSilent);
  state.counters["silent_us"] = silentMedian;
  state.counters["printing_us"] = median(printingTimes);
  state.counters["ratio"] = silentMedian > 0 ? median(printingTimes) / silentMedian : 0;
  state.counters["bare_ratio"] = bareSilentMedian > 0 ? median(barePrinting) / bareSilentMedian : 0;
}
BENCHMARK(BM_ScriptOutputToReport)
    ->ArgName("block")
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  return home ? kivbench::runBenchmarks(argc, argv) : 1;
}
