// Terminal services: the session namespace and the user of a session.
#pragma once

#include "../ComponentBase.h"
#include "TQOSServices.h"

class CTQOSTerminalServices final : public kiv::components::Component<TQOSTerminalServices, 2> {
 public:
  static constexpr int kVersion = 2;

  CTQOSTerminalServices() : Component(kiv::components::Origin::kCreated) {}

  // 0: every session shares the global namespace here, so "Global\" names are the same
  // for every process.
  int query() override { return 0; }
  // 0 and a session-user object when someone is logged on in that session (active or
  // disconnected); 1 otherwise.
  int querySessionUser(uint32_t session, TQOSSessionUser** user) override;
};
