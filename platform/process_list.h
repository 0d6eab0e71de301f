// The running processes as /proc shows them, with the image name of each: the base name of
// its executable, or the kernel's command name when the executable cannot be read (other
// users' processes, kernel threads). A process that has ended but is not yet reaped by its
// parent (a zombie) counts as ended: it is neither listed nor found.
#pragma once

#include <string>
#include <vector>

namespace kiv::platform {

struct ProcessEntry {
  int pid = 0;
  std::string imageName;  // UTF-8
};

// A snapshot of every process, in ascending pid order; empty when /proc cannot be read.
std::vector<ProcessEntry> listProcesses();

// The image name of one process; empty when it has ended.
std::string processImageName(int pid);

}  // namespace kiv::platform
