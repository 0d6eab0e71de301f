// Round trips through a bus endpoint, beside a bare ZeroMQ request/reply over the same kind
// of ipc socket, so that the bus's own cost shows as the difference.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <zmq.h>

#include <cstdio>
#include <string>
#include <thread>

#include "TQSMCAPI.h"
#include "support/bench_home.h"

namespace {

const std::string kMessage =
    "<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>";

std::string& home() {
  static std::string path;
  return path;
}

uint32_t answerTaken(void*, void*, void*, int, SmMessage*, void*) { return kSmTaken; }

void BM_BusRoundTrip(benchmark::State& state) {
  const unsigned char options[4] = {1, 0, 0, 0};
  SmInitialize(options, nullptr);
  SMENDPOINT endpoint = 0;
  if (SmOpenEndPointU("benchBus", 0, answerTaken, 0, nullptr, &endpoint) != 0) {
    state.SkipWithError("cannot open the endpoint");
    return;
  }
  for (auto _ : state) {
    uint32_t status = 1;
    if (SmSend("benchBus", kMessage.data(), kMessage.size(), &status, 5000) != 0 || status != 0) {
      state.SkipWithError("send failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  SmCloseEndPoint(endpoint);
  SmDeinitialize();
}
BENCHMARK(BM_BusRoundTrip)->UseRealTime();

// The same exchange with nothing but a REQ and a REP socket.
void BM_BareZmqRoundTrip(benchmark::State& state) {
  const std::string address = "ipc://" + home() + "/bare.sock";
  void* context = zmq_ctx_new();
  void* rep = zmq_socket(context, ZMQ_REP);
  zmq_bind(rep, address.c_str());
  std::thread server([rep] {
    char buffer[4096];
    for (;;) {
      const int size = zmq_recv(rep, buffer, sizeof buffer, 0);
      if (size < 0) return;
      const bool stop = size == 4 && std::string(buffer, 4) == "stop";
      zmq_send(rep, "\0\0\0\0\0\0\0\0", 8, 0);
      if (stop) return;
    }
  });
  void* req = zmq_socket(context, ZMQ_REQ);
  zmq_connect(req, address.c_str());
  char reply[16];
  for (auto _ : state) {
    zmq_send(req, kMessage.data(), kMessage.size(), 0);
    benchmark::DoNotOptimize(zmq_recv(req, reply, sizeof reply, 0));
  }
  state.SetItemsProcessed(state.iterations());
  zmq_send(req, "stop", 4, 0);
  zmq_recv(req, reply, sizeof reply, 0);
  server.join();
  int linger = 0;
  zmq_setsockopt(req, ZMQ_LINGER, &linger, sizeof linger);
  zmq_close(req);
  zmq_close(rep);
  zmq_ctx_term(context);
}
BENCHMARK(BM_BareZmqRoundTrip)->UseRealTime();

}  // namespace


int main(int argc, char** argv) {
  kivbench::TemporaryHome temporaryHome;
  if (!temporaryHome) return 1;
  home() = temporaryHome.path();
  return kivbench::runBenchmarks(argc, argv);
}
