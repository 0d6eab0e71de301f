// Round trips of one Docked message, in the same run: through a bus endpoint whose callback
// answers at once (a SOCK_SEQPACKET socket per endpoint), through the floor of any local
// transport, a bare Unix seqpacket socket answered by one thread (so the bus's own cost shows
// as the difference), through a bare ZeroMQ request/reply over an ipc socket (a messaging
// library's floor; only where libzmq was found at build time), and as a D-Bus method call
// through sd-bus to a service on a private dbus-daemon (what a Linux program would use
// instead). Each is run with 1, 4 and 16 senders at once against one answering thread; time
// is the latency a sender sees, items per second the messages answered per second altogether.
#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>
#ifdef KIV_BENCH_ZMQ
#include <zmq.h>
#endif

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TQSMCAPI.h"
#include "bus/PrivateDbus.h"
#include "support/bench_home.h"

namespace {

const std::string kMessage =
    "<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>";

std::string& home() {
  static std::string path;
  return path;
}

// CPU time in nanoseconds of this process (all its threads: senders, answering thread,
// ZeroMQ's I/O threads, where built) and of the process `other` (the dbus-daemon), if any.
double cpuNanoseconds(pid_t other) {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  double total = static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
  if (other > 0) {
    std::ifstream schedstat("/proc/" + std::to_string(other) + "/schedstat");
    double onCpu = 0;
    if (schedstat >> onCpu) total += onCpu;
  }
  return total;
}

// Per sender, the latency it sees, averaged over the senders (Google Benchmark's own time
// of a run with several threads is the wall time per message of all senders together).
// The first sender also counts the CPU time one message costs everything involved, which
// a machine busy with other work changes far less than it changes latency.
class SenderClock {
 public:
  explicit SenderClock(benchmark::State& state, pid_t other = 0) : state_(state), other_(other) {}
  // Called in every round: the first one starts the clock, once all senders are released.
  void tick() {
    if (started_) return;
    started_ = true;
    if (state_.thread_index() == 0) cpuBegin_ = cpuNanoseconds(other_);
    begin_ = std::chrono::steady_clock::now();
  }
  ~SenderClock() {
    if (state_.iterations() == 0) return;
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - begin_;
    const auto messages = static_cast<double>(state_.iterations());
    state_.counters["sender_latency_us"] = benchmark::Counter(spent.count() / messages, benchmark::Counter::kAvgThreads);
    if (state_.thread_index() == 0) {
      state_.counters["cpu_us_per_msg"] = (cpuNanoseconds(other_) - cpuBegin_) / 1000.0 / (messages * state_.threads());
    }
    state_.SetItemsProcessed(state_.iterations());
  }

 private:
  benchmark::State& state_;
  const pid_t other_;
  bool started_ = false;
  std::chrono::steady_clock::time_point begin_;
  double cpuBegin_ = 0;
};

uint32_t answerTaken(void*, void*, void*, int, SmMessage*, void*) { return kSmTaken; }

struct BusEndpoint {
  SMENDPOINT endpoint = 0;
  bool open = false;
  BusEndpoint() {
    const unsigned char options[4] = {1, 0, 0, 0};
    open = SmInitialize(options, nullptr) == 0 &&
           SmOpenEndPointU("benchBus", 0, answerTaken, 0, nullptr, &endpoint) == 0;
  }
  ~BusEndpoint() {
    if (open) SmCloseEndPoint(endpoint);
    SmDeinitialize();
  }
};
std::unique_ptr<BusEndpoint> busEndpoint;

void BM_BusRoundTrip(benchmark::State& state) {
  if (!busEndpoint->open) {
    state.SkipWithError("cannot open the endpoint");
    return;
  }
  SenderClock clock(state);
  for (auto _ : state) {
    clock.tick();
    uint32_t status = 1;
    if (SmSend("benchBus", kMessage.data(), kMessage.size(), &status, 5000) != 0 || status != 0) {
      state.SkipWithError("send failed");
      break;
    }
  }
}

#ifdef KIV_BENCH_ZMQ
// A REP socket answered by one thread; each sender has its own REQ socket.
struct BareZmq {
  void* context = zmq_ctx_new();
  void* rep = zmq_socket(context, ZMQ_REP);
  std::string address = "ipc://" + home() + "/bare.sock";
  std::thread server;
  BareZmq() {
    zmq_bind(rep, address.c_str());
    server = std::thread([this] {
      char buffer[4096];
      // Ends when the context is shut down.
      while (zmq_recv(rep, buffer, sizeof buffer, 0) >= 0) zmq_send(rep, "\0\0\0\0\0\0\0\0", 8, 0);
      zmq_close(rep);
    });
  }
  ~BareZmq() {
    zmq_ctx_shutdown(context);
    server.join();
    zmq_ctx_term(context);
  }
};
std::unique_ptr<BareZmq> bareZmq;

void BM_BareZmqRoundTrip(benchmark::State& state) {
  void* req = zmq_socket(bareZmq->context, ZMQ_REQ);
  zmq_connect(req, bareZmq->address.c_str());
  char reply[16];
  {
    SenderClock clock(state);
    for (auto _ : state) {
      clock.tick();
      zmq_send(req, kMessage.data(), kMessage.size(), 0);
      benchmark::DoNotOptimize(zmq_recv(req, reply, sizeof reply, 0));
    }
  }
  int linger = 0;
  zmq_setsockopt(req, ZMQ_LINGER, &linger, sizeof linger);
  zmq_close(req);
}
#endif

// The floor of a local transport: a Unix seqpacket socket (message boundaries kept, a closed
// peer seen at once) answered by one thread that polls every connection.
struct BareSeqpacket {
  std::string path = home() + "/seqpacket.sock";
  int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  int stop = eventfd(0, EFD_CLOEXEC);
  std::thread server;
  BareSeqpacket() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 64);
    server = std::thread([this] { serve(); });
  }
  ~BareSeqpacket() {
    const uint64_t one = 1;
    if (write(stop, &one, sizeof one) < 0) std::abort();
    server.join();
    close(listener);
    close(stop);
  }
  void serve() {
    std::vector<pollfd> items{{stop, POLLIN, 0}, {listener, POLLIN, 0}};
    char buffer[4096];
    for (;;) {
      if (poll(items.data(), items.size(), -1) < 0) continue;
      if (items[0].revents != 0) break;
      if (items[1].revents != 0) items.push_back({accept4(listener, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
      for (std::size_t i = 2; i < items.size(); ++i) {
        if (items[i].revents == 0) continue;
        if (recv(items[i].fd, buffer, sizeof buffer, 0) <= 0) {
          close(items[i].fd);
          items.erase(items.begin() + static_cast<std::ptrdiff_t>(i--));
          continue;
        }
        send(items[i].fd, "\0\0\0\0", 4, MSG_NOSIGNAL);
      }
    }
    for (std::size_t i = 2; i < items.size(); ++i) close(items[i].fd);
  }
};
std::unique_ptr<BareSeqpacket> bareSeqpacket;

void BM_BareUnixSocketRoundTrip(benchmark::State& state) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  bareSeqpacket->path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    state.SkipWithError("cannot connect");
    return;
  }
  char reply[16];
  {
    SenderClock clock(state);
    for (auto _ : state) {
      clock.tick();
      send(fd, kMessage.data(), kMessage.size(), MSG_NOSIGNAL);
      benchmark::DoNotOptimize(recv(fd, reply, sizeof reply, 0));
    }
  }
  close(fd);
}

std::unique_ptr<kivbench::PrivateDbus> dbus;

void BM_DbusMethodCall(benchmark::State& state) {
  // sd-bus connections belong to one thread: each sender has its own.
  sd_bus* bus = dbus->address().empty() ? nullptr : dbus->connect();
  if (bus == nullptr) {
    state.SkipWithError("no private D-Bus");
    return;
  }
  using Kb = kivbench::PrivateDbus;
  SenderClock clock(state, dbus->daemon());
  for (auto _ : state) {
    clock.tick();
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    uint32_t status = 1;
    if (sd_bus_call_method(bus, Kb::kService, Kb::kObject, Kb::kInterface, Kb::kMethod, &error, &reply, "s",
                           kMessage.c_str()) < 0 ||
        sd_bus_message_read(reply, "u", &status) < 0 || status != 0) {
      state.SkipWithError("D-Bus call failed");
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    if (status != 0) break;
  }
  sd_bus_flush_close_unref(bus);
}

// Side by side for each number of senders, so that all meet the same machine load.
#ifdef KIV_BENCH_ZMQ
#define KIV_BARE_ZMQ(threads) \
  BENCHMARK(BM_BareZmqRoundTrip)->Threads(threads)->UseRealTime()->Unit(benchmark::kMicrosecond)
#else
#define KIV_BARE_ZMQ(threads) static_assert(true)
#endif
#define KIV_ROUND_TRIPS(threads)                                                                   \
  BENCHMARK(BM_BusRoundTrip)->Threads(threads)->UseRealTime()->Unit(benchmark::kMicrosecond);     \
  KIV_BARE_ZMQ(threads);                                                                          \
  BENCHMARK(BM_DbusMethodCall)->Threads(threads)->UseRealTime()->Unit(benchmark::kMicrosecond);   \
  BENCHMARK(BM_BareUnixSocketRoundTrip)->Threads(threads)->UseRealTime()->Unit(benchmark::kMicrosecond)
KIV_ROUND_TRIPS(1);
KIV_ROUND_TRIPS(4);
KIV_ROUND_TRIPS(16);

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome temporaryHome;
  if (!temporaryHome) return 1;
  home() = temporaryHome.path();
  // Set up by the main thread, which outlives every run: the private daemon ends with the
  // thread that started it.
  busEndpoint = std::make_unique<BusEndpoint>();
#ifdef KIV_BENCH_ZMQ
  bareZmq = std::make_unique<BareZmq>();
#endif
  bareSeqpacket = std::make_unique<BareSeqpacket>();
  dbus = std::make_unique<kivbench::PrivateDbus>(home());
  const int rc = kivbench::runBenchmarks(argc, argv);
  busEndpoint.reset();
#ifdef KIV_BENCH_ZMQ
  bareZmq.reset();
#endif
  bareSeqpacket.reset();
  dbus.reset();
  return rc;
}
