// Pins this library in the process: the ZeroMQ context's I/O thread runs its code until
// the process ends, even after the module that loaded the library is unloaded.
#pragma once

namespace kiv::bus {

void keepThisLibraryLoaded();

}  // namespace kiv::bus
