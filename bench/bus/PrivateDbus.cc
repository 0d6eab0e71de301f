#include "bus/PrivateDbus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace kivbench {
namespace {

// Everyone may talk to everyone: the daemon is this benchmark's alone.
constexpr const char* kConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

int answerAtOnce(sd_bus_message* message, void*, sd_bus_error*) {
  const char* text = nullptr;
  const int rc = sd_bus_message_read(message, "s", &text);
  if (rc < 0) return rc;
  return sd_bus_reply_method_return(message, "u", 0u);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD(PrivateDbus::kMethod, "s", "u", answerAtOnce, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// The first line the daemon prints is its address; waited for up to ten seconds.
std::string readAddress(int fd) {
  std::string line;
  char c;
  pollfd item{fd, POLLIN, 0};
  while (poll(&item, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

PrivateDbus::PrivateDbus(const std::string& directory) {
  std::string config = kConfig;
  const std::string socket = directory + "/dbus.sock";
  config.replace(config.find("@SOCKET@"), 8, socket);
  const std::string configPath = directory + "/dbus.conf";
  std::ofstream(configPath) << config;
  const std::string configArgument = "--config-file=" + configPath;

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  const pid_t parent = getpid();
  daemon_ = fork();
  if (daemon_ == 0) {
    // Only async-signal-safe calls from here: the benchmark may already run threads.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(out[1], STDOUT_FILENO);
    // It warns that it may not raise its descriptor limit, which does not matter here.
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork", "--print-address=1",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  if (daemon_ > 0) address_ = readAddress(out[0]);
  close(out[0]);
  if (address_.empty()) return;

  sd_bus* bus = connect();
  if (bus == nullptr || sd_bus_request_name(bus, kService, 0) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, kObject, kInterface, kVtable, nullptr) < 0) {
    std::fprintf(stderr, "benchmark: the D-Bus service could not be set up\n");
    if (bus != nullptr) sd_bus_unref(bus);
    address_.clear();
    return;
  }
  service_ = std::thread([this, bus] { serve(bus); });
}

PrivateDbus::~PrivateDbus() {
  stopping_ = true;
  if (service_.joinable()) service_.join();
  if (daemon_ > 0) {
    kill(daemon_, SIGTERM);
    waitpid(daemon_, nullptr, 0);
  }
}

sd_bus* PrivateDbus::connect() const {
  sd_bus* bus = nullptr;
  int rc = sd_bus_new(&bus);
  if (rc < 0) return nullptr;
  if ((rc = sd_bus_set_address(bus, address_.c_str())) < 0 || (rc = sd_bus_set_bus_client(bus, 1)) < 0 ||
      (rc = sd_bus_start(bus)) < 0) {
    std::fprintf(stderr, "benchmark: cannot connect to the private D-Bus: %s\n", std::strerror(-rc));
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

// One thread answers every call, as the bus endpoint's one delivery thread does.
void PrivateDbus::serve(sd_bus* bus) {
  while (!stopping_) {
    const int rc = sd_bus_process(bus, nullptr);
    if (rc < 0) break;
    if (rc == 0) sd_bus_wait(bus, 100000);  // microseconds: the stop flag is looked at this often
  }
  sd_bus_flush_close_unref(bus);
}

}  // namespace kivbench
