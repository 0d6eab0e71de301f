// The security an endpoint's pipe is created with: only the user the endpoint's process runs
// as, the local system and the Administrators group may open it or make more instances of
// it; everybody else is refused.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace kiv::bus::win {

class PipeSecurity {
 public:
  // The descriptor for this process's user; null (with *error) when the user or the
  // well-known groups cannot be looked up.
  static std::unique_ptr<PipeSecurity> build(std::string* error);

  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;

  // For CreateNamedPipeW; valid as long as this object lives.
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }

  // What each of the three entries grants.
  static constexpr DWORD kAccess = FILE_ALL_ACCESS;

 private:
  PipeSecurity() = default;

  std::vector<unsigned char> owner_, system_, administrators_, acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace kiv::bus::win
