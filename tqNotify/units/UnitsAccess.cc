// The access list of the units directory and the version gate in front of it.
#include "tqNotify/units/UnitsAccess.h"

#include "platform/dir_acl.h"
#include "platform/file_util.h"
#include "platform/version.h"

int setUnitsDirectoryAccess(const wchar_t* path) {
  if (path == nullptr) return 0;
  return kiv::platform::grantGroupFullAccess(kiv::platform::narrowPath(path), "users") ? 1 : 0;
}

bool isNT5OrLater() {
  uint32_t version = kiv::platform::getVersion();
  return !kiv::platform::isNineXFamily(version) && kiv::platform::majorVersion(version) >= 5;
}
