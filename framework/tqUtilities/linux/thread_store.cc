// Each thread's configuration store on Linux: a thread_local, closed by its destructor as
// the thread ends.
#include "framework/tqUtilities/config_store.h"

namespace kiv::config {

std::unique_ptr<ConfigStore>& threadStoreSlot() {
  thread_local std::unique_ptr<ConfigStore> store;
  return store;
}

}  // namespace kiv::config
