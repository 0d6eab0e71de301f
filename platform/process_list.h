// The running processes as /proc shows them, with the image name of each: the base name of
// its executable, or the kernel's command name when the executable cannot be read (other
// users' processes, kernel threads).
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

// The image name of one process; empty when it has gone.
std::string processImageName(int pid);

}  // namespace kiv::platform
