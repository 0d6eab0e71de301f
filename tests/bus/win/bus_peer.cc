// The other process of the Windows bus tests.
//   bus_peer [--home DIR] send NAME TEXT   sends TEXT to NAME, prints "<result> <status>"
//   bus_peer [--home DIR] hold NAME        opens NAME (refusing messages that contain
//                                          "refuse"), prints "open <result>", keeps it open
//                                          until its input ends, then closes it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TQSMCAPI.h"

namespace {

uint32_t answer(void*, void*, void*, int, SmMessage* message, void*) {
  return std::strstr(message->text, "refuse") != nullptr ? kSmRefused : kSmTaken;
}

int hold(const char* name) {
  const unsigned char options[4] = {1, 0, 0, 0};
  SmInitialize(options, nullptr);
  SMENDPOINT handle = 0;
  const int opened = SmOpenEndPointU(name, 0, answer, 0, nullptr, &handle);
  std::printf("open %d\n", opened);
  std::fflush(stdout);
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  if (opened == 0) SmCloseEndPoint(handle);
  SmDeinitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int next = 1;
  if (argc > next + 1 && std::strcmp(argv[next], "--home") == 0) {
    _putenv_s("KIV_HOME", argv[next + 1]);
    next += 2;
  }
  if (argc == next + 3 && std::strcmp(argv[next], "send") == 0) {
    uint32_t status = 0;
    const std::string text = argv[next + 2];
    const int result = SmSend(argv[next + 1], text.data(), static_cast<uint32_t>(text.size()),
                              &status, 20000);
    std::printf("%d %u\n", result, static_cast<unsigned>(status));
    return 0;
  }
  if (argc == next + 2 && std::strcmp(argv[next], "hold") == 0) return hold(argv[next + 1]);
  std::fprintf(stderr, "usage: bus_peer [--home DIR] send NAME TEXT | hold NAME\n");
  return 2;
}
