// Start-up of the plug-in host: from starting `kiv host` to its first message handled, a
// `kiv send docked` included, beside what any such start pays anyway: starting a process
// that does nothing, and a `kiv send` to an endpoint that nobody has open.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <utility>
#include <string>
#include <vector>

#include "support/bench_home.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string kivProgram() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kiv").string();
}

// A started program with its stdout and stderr on pipes; killed and reaped at the end.
class Child {
 public:
  explicit Child(const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      wait();
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  // The exit status, or -1.
  int wait() {
    int status = 0;
    const pid_t pid = std::exchange(pid_, -1);
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Reads the stream until its text holds `wanted`; false at its end or after ten seconds.
  bool awaitOut(const std::string& wanted) { return await(out_, outText_, wanted); }
  bool awaitErr(const std::string& wanted) { return await(err_, errText_, wanted); }

 private:
  static bool await(int fd, std::string& text, const std::string& wanted) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (text.find(wanted) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd item{fd, POLLIN, 0};
      if (left <= 0 || poll(&item, 1, static_cast<int>(left)) <= 0) return false;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) return false;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string outText_, errText_;
};

// CPU time, in milliseconds, of the children reaped so far: on a machine busy with other
// work it shows the cost of a start better than the time it takes.
double childrenCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Runs the loop of a benchmark and reports the children's CPU time per round.
template <class Round>
void countChildrenCpu(benchmark::State& state, Round round) {
  const double before = childrenCpuMs();
  for (auto _ : state) {
    if (!round()) break;
  }
  state.counters["children_cpu_ms"] = benchmark::Counter(childrenCpuMs() - before, benchmark::Counter::kAvgIterations);
}

const std::vector<std::string> kSendDocked = {kivProgram(), "send", "docked", "--id", "4711", "--type",
                                              "dockingDevicePalm"};

void BM_HostStartToFirstMessage(benchmark::State& state) {
  double readyMs = 0, sentMs = 0;
  countChildrenCpu(state, [&] {
    const auto begin = Clock::now();
    Child host({kivProgram(), "host"});
    // The host says it runs once its endpoints are open.
    if (!host.started() || !host.awaitErr("running")) {
      state.SkipWithError("kiv host did not start");
      return false;
    }
    const auto ready = Clock::now();
    Child send(kSendDocked);
    // Code 6 is the plug-in's report of the docked device: the message was handled.
    const int sent = send.wait();
    const auto answered = Clock::now();
    if (sent != 0 || !host.awaitOut("6 \"4711\"")) {
      state.SkipWithError("the message was not handled");
      return false;
    }
    const auto handled = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(handled - begin).count());
    readyMs += std::chrono::duration<double, std::milli>(ready - begin).count();
    sentMs += std::chrono::duration<double, std::milli>(answered - ready).count();
    return true;  // the host is stopped and reaped as `host` goes
  });
  // Up to the host's "running" line; then the `kiv send` process until it has its answer.
  state.counters["host_ready_ms"] = benchmark::Counter(readyMs, benchmark::Counter::kAvgIterations);
  state.counters["send_ms"] = benchmark::Counter(sentMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HostStartToFirstMessage)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SpawnTrue(benchmark::State& state) {
  countChildrenCpu(state, [&] {
    Child child({"/bin/true"});
    if (child.wait() == 0) return true;
    state.SkipWithError("/bin/true failed");
    return false;
  });
}
BENCHMARK(BM_SpawnTrue)->UseRealTime()->Unit(benchmark::kMillisecond);

// Loads the same libraries as a real send and finds no endpoint: exit 4.
void BM_KivSendNobodyListens(benchmark::State& state) {
  countChildrenCpu(state, [&] {
    Child send(kSendDocked);
    if (send.wait() == 4) return true;
    state.SkipWithError("kiv send did not report a missing endpoint");
    return false;
  });
}
BENCHMARK(BM_KivSendNobodyListens)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  if (!home) return 1;
  // The units directory's parent, as an installed agent has it.
  std::filesystem::create_directories(home.path() + "/Agent");
  return kivbench::runBenchmarks(argc, argv);
}
