// The pipes that carry a started process's standard output and standard error back to the
// host, and the reading of them while the host waits for the process.
#pragma once

#include <spawn.h>

#include <cstdint>
#include <memory>

#include "platform/linux/unique_fd.h"
#include "platform/process.h"

namespace kiv::platform {

struct OutputPipes {
  // Null, with errno set, when the pipes cannot be made.
  static std::unique_ptr<OutputPipes> open();

  // Puts the child's ends on descriptors 1 and 2 of the process to be spawned.
  bool addTo(posix_spawn_file_actions_t* actions) const;
  // Once the child has its copies, the host gives up its own, so that the pipes report
  // their end as soon as the child and what it started have closed theirs.
  void closeChildEnds();
  // Reads until the pidfd is signalled or `timeoutMs` pass; the result as for waitOne.
  uint32_t readUntilEnd(int pidfd, uint32_t timeoutMs, const OutputReceiver& receiver);
  // Reads what the pipes hold now, without waiting for more.
  void drain(const OutputReceiver& receiver);

  UniqueFd host[2];   // our read ends: output, error
  UniqueFd child[2];  // the write ends the child gets
};

}  // namespace kiv::platform
