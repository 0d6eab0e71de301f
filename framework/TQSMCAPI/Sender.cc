// The sending side of the bus, for our own tools: one request, one answer, to an endpoint of
// this machine (through the system's local transport) or to the TCP listener of another.
#include <string>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/LocalSend.h"
#include "framework/TQSMCAPI/RemoteSend.h"

namespace kiv::bus {
namespace {

bool validArguments(const char* text, uint32_t length, const uint32_t* status) {
  return status != nullptr && (text != nullptr || length == 0);
}

}  // namespace
}  // namespace kiv::bus

using namespace kiv::bus;

extern "C" {

TQ_API int SmSend(const char* endpoint, const char* text, uint32_t length, uint32_t* status,
                  int timeoutMs) {
  if (!isValidEndpointName(endpoint) || !validArguments(text, length, status)) {
    return kSmErrInvalidArgument;
  }
  if (length > kSmMaxMessage) return kSmErrTooLarge;
  return sendLocal(endpoint, std::string(text == nullptr ? "" : text, length), Deadline(timeoutMs),
                   status);
}

TQ_API int SmSendTo(const char* address, const char* endpoint, const char* text,
                    uint32_t length, uint32_t* status, int timeoutMs) {
  if (address == nullptr || std::string(address).rfind("tcp://", 0) != 0 ||
      !isValidEndpointName(endpoint) || !validArguments(text, length, status)) {
    return kSmErrInvalidArgument;
  }
  if (length > kSmMaxMessage) return kSmErrTooLarge;
  return sendRemote(address, endpoint, std::string(text == nullptr ? "" : text, length),
                    Deadline(timeoutMs), status);
}

TQ_API int SmQueryEndPointOwner(const char* endpoint, int* pid) {
  if (!isValidEndpointName(endpoint) || pid == nullptr) return kSmErrInvalidArgument;
  return localEndpointOwner(endpoint, pid);
}

TQ_API const char* SmErrorText(int error) {
  switch (error) {
    case 0: return "success";
    case kSmErrNotInitialized: return "the message bus is not initialised";
    case kSmErrInvalidArgument: return "invalid argument";
    case kSmErrEndpointInUse: return "the endpoint is already open in a running process";
    case kSmErrNoListener: return "nobody has the endpoint open";
    case kSmErrTimeout: return "the endpoint did not answer in time";
    case kSmErrTooLarge: return "the message is larger than 1 MiB";
    case kSmErrTransport: return "message transport failed";
    default: return "unknown message bus error";
  }
}

}  // extern "C"
