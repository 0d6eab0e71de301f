// The session enumerator: a snapshot of the login sessions taken when it is created, so
// that indices stay valid while the caller walks them.
#pragma once

#include <vector>

#include "../ComponentBase.h"
#include "TQOSServices.h"
#include "platform/sessions.h"

class CTQOSTSEnum final : public kiv::components::Component<TQOSTSEnum, 1> {
 public:
  static constexpr int kVersion = 1;

  CTQOSTSEnum();

  uint32_t count() override;
  // 0 and the session's number and connection state; 1 for an index past the end.
  int getSession(uint32_t index, uint32_t* session, int reserved, int* state) override;

 private:
  const std::vector<kiv::platform::LoginSession> sessions_;
};
