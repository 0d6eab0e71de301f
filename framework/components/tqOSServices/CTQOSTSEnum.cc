// The session enumerator's entries over its snapshot.
#include "CTQOSTSEnum.h"

CTQOSTSEnum::CTQOSTSEnum()
    : Component(kiv::components::Origin::kCreated), sessions_(kiv::platform::listSessions()) {}

uint32_t CTQOSTSEnum::count() { return static_cast<uint32_t>(sessions_.size()); }

int CTQOSTSEnum::getSession(uint32_t index, uint32_t* session, int, int* state) {
  if (index >= sessions_.size() || session == nullptr || state == nullptr) return 1;
  *session = sessions_[index].number;
  *state = sessions_[index].state;
  return 0;
}
