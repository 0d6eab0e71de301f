// The framework message bus: named endpoints that receive one-frame UTF-8 XML messages and
// answer each with the callback's status.
#pragma once

#include <cstdint>

#include "TQTypes.h"

struct ITQTrace;

using SMENDPOINT = uint32_t;

// Statuses a callback answers, and that senders get back.
constexpr uint32_t kSmTaken = 0;
constexpr uint32_t kSmRefused = 0x33002;

// Errors of the bus functions besides 0 (success).
constexpr int kSmErrNotInitialized = 0x33101;
constexpr int kSmErrInvalidArgument = 0x33102;
constexpr int kSmErrEndpointInUse = 0x33103;
constexpr int kSmErrNoListener = 0x33104;   // nobody has the endpoint open
constexpr int kSmErrTimeout = 0x33105;      // the endpoint gave no answer in time
constexpr int kSmErrTooLarge = 0x33106;     // a message over kSmMaxMessage bytes
constexpr int kSmErrTransport = 0x33107;

constexpr uint32_t kSmMaxMessage = 1u << 20;

// How long a send waits for its answer when the caller gives no time: longer than the
// longest handling of a message (a logon may wait 20 s for its session's user).
constexpr int kSmDefaultTimeoutMs = 60000;

// The record handed to a callback; `text` is the NUL-terminated UTF-8 message.
struct SmMessage {
  uint32_t length;
  const char* text;
};

// first and third identify where the message came from (pass them to SmIsLocalMessage);
// kind is 1 for a message to handle.
using SmCallback = uint32_t (*)(void* first, void* second, void* third, int kind,
                                SmMessage* message, void* context);

extern "C" {
TQ_API int SmInitialize(const unsigned char options[4], ITQTrace* tracer);
TQ_API int SmOpenEndPointU(const char* name, int reserved, SmCallback callback, int flags,
                           void* context, SMENDPOINT* endpoint);
TQ_API int SmIsLocalMessage(void* first, void* third, int* isLocal);
// After it returns no callback of the endpoint runs or is still running.
TQ_API int SmCloseEndPoint(SMENDPOINT endpoint);
TQ_API int SmDeinitialize();

// Sends one message to a local endpoint and waits for its status (timeoutMs <= 0: the
// default time). Answers 0 and the status, or one of the kSmErr codes. An answer that has
// arrived is always returned; kSmErrNoListener means the message was not handled, while
// after kSmErrTimeout it may still be.
TQ_API int SmSend(const char* endpoint, const char* text, uint32_t length, uint32_t* status,
                  int timeoutMs);
// The same towards a TCP listener ("tcp://host:port") of another machine.
TQ_API int SmSendTo(const char* address, const char* endpoint, const char* text,
                    uint32_t length, uint32_t* status, int timeoutMs);
// Whether a process has the endpoint open: 0 and its process id (0 when unknown), or
// kSmErrNoListener.
TQ_API int SmQueryEndPointOwner(const char* endpoint, int* pid);
// A readable text for a bus error code.
TQ_API const char* SmErrorText(int error);
}
