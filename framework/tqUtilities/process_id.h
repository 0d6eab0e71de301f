// The calling process's id, cheap enough to ask on every use of the configuration store
// (which must not be used across a fork) and for every trace line.
#pragma once

namespace kiv {

long processId();

}  // namespace kiv
