// Companion paths from the module's file name. The whole path is used, however long: a
// path cut to a fixed buffer would name a file that does not exist.
#include "tqNotify/registration/CompanionPath.h"

#include "platform/system_info.h"
#include "tqNotify/registration/InstanceHandle.h"

std::wstring companionPath(const wchar_t* fileName) {
  std::wstring path = kiv::platform::moduleFileName(instanceHandle());
  const size_t slash = path.find_last_of(L"/\\");  // Windows paths may use either
  if (slash == std::wstring::npos) return {};
  path.erase(slash + 1);
  return path + fileName;
}
