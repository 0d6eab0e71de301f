// KIV_HOME, the root below which all state lives (default /var/lib/kiv for root,
// $XDG_STATE_HOME/kiv or ~/.local/state/kiv otherwise), created with mode 0711: others may
// pass through it to the units directory but not list it. Missing parents get 0700.
#pragma once

#include <string>

namespace kiv::platform {

// The root directory, created when missing. Empty on failure, with *error naming the path
// and the reason.
std::string kivHome(std::string* error = nullptr);

// A directory below the root (for example "run/locks/global"), created level by level,
// each new level with exactly `mode`.
std::string kivSubdirectory(const std::string& relative, unsigned mode, std::string* error = nullptr);

}  // namespace kiv::platform
