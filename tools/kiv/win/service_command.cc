// `kiv service install [--start auto|demand] | uninstall | start | stop | status | run`: the
// Windows service (service_manage.h). Kept free of <windows.h>, since it is compiled in one
// unit with the rest of the command line.
#include <map>
#include <memory>
#include <string>

#include "tools/kiv/commands.h"
#include "tools/kiv/win/service_manage.h"

namespace kiv::tool {

void addServiceCommand(CLI::App& app, int& exitCode) {
  auto* service = app.add_subcommand("service", "The Windows service kivhost (\"KIV plug-in host\")");
  service->require_subcommand(1);

  auto start = std::make_shared<ServiceStart>(ServiceStart::kAuto);
  auto* install = service->add_subcommand("install", "Install the service, its recovery and its Event Log source");
  install->add_option("--start", *start, "When the service starts: auto (at boot, the default) or demand")
      ->transform(CLI::CheckedTransformer(
          std::map<std::string, ServiceStart>{{"auto", ServiceStart::kAuto}, {"demand", ServiceStart::kDemand}}));
  install->callback([&exitCode, start] { exitCode = installService(*start); });

  service->add_subcommand("configure", "Set recovery, service SID and privileges of the installed service")
      ->callback([&exitCode] { exitCode = configureService(); });
  service->add_subcommand("uninstall", "Stop and remove the service; its state is kept")
      ->callback([&exitCode] { exitCode = uninstallService(); });
  service->add_subcommand("start", "Start the service and wait until it runs")
      ->callback([&exitCode] { exitCode = startService(); });
  service->add_subcommand("stop", "Stop the service in order and wait until it has stopped")
      ->callback([&exitCode] { exitCode = stopService(); });
  service->add_subcommand("status", "Show the service's state (exit 0 running, 3 stopped, 4 not installed)")
      ->callback([&exitCode] { exitCode = serviceStatus(); });
  service->add_subcommand("run", "Run as the service (started by the Service Control Manager)")
      ->callback([&exitCode] { exitCode = runService(); });
}

}  // namespace kiv::tool
