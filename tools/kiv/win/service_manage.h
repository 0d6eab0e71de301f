// The service "kivhost" for people without the installer: `kiv service install`, `uninstall`,
// `start`, `stop`, `status`, and `run`, which only the Service Control Manager calls. Each
// answers the command's exit code and prints what went wrong.
#pragma once

namespace kiv::tool {

inline constexpr const wchar_t* kServiceName = L"kivhost";
inline constexpr const wchar_t* kServiceDisplayName = L"KIV plug-in host";

enum class ServiceStart { kAuto, kDemand };

int installService(ServiceStart start);
// Sets recovery, service SID and privileges of the service installed already (the
// installer's step; install does it too).
int configureService();
int uninstallService();
int startService();
int stopService();
// 0 running, 3 installed but not running, 4 not installed.
int serviceStatus();
int runService();
// Removes the logon notification entries of the plug-in (its UnregisterNotifications);
// what goes wrong is printed under `command`, the command the operator ran.
int unregisterNotifications(const char* command);

}  // namespace kiv::tool
