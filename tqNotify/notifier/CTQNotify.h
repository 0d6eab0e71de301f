// CTQNotify, the plug-in object ("ITQPlugin"): it keeps the session table, writes user
// units, turns bus notifications and host events into numbered events for its host, and
// runs the IP change monitor and the shell process watcher threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "ITQEventSink.h"
#include "ITQPlugin.h"
#include "ITQXMLParser.h"
#include "TQOSServices.h"
#include "TQSMCAPI.h"
#include "TQString.h"
#include "platform/event.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/notifier/SessionTable.h"

class CTQNotify : public ITQPlugin, public ITQEventSink {
 public:
  CTQNotify();

  // ITQImpl
  void AddRef() override;
  int Release() override;
  int CheckVersion(int required) override;
  HTQMODULE GetLibraryHandle() override;
  ~CTQNotify() override;

  // ITQPlugin
  bool Initialize(PluginInitInfo info) override;
  bool Initialize2(PluginInitInfo info) override;
  int Reserved1() override;
  int ShutdownA(const char* text, int value) override;
  int ShutdownW(TQStringW text, int value) override;
  int Shutdown() override;
  int Reserved2() override;
  bool HandleRequestA(const TQStringA& input, TQStringA& output) override;
  bool HandleRequestW(const TQStringW& input, TQStringW& output) override;
  int GetNameA(TQStringA& name) override;
  int GetNameW(TQStringW& name) override;
  int GetDescriptionA(TQStringA& description) override;
  int GetDescriptionW(TQStringW& description) override;
  int Reserved3(void* argument) override;
  int Reserved4(void* argument) override;
  int Reserved5(void* argument) override;
  int Reserved6(void* argument) override;

  // ITQEventSink: host events 15 (session change) and 16 (power change).
  bool OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                const TQStringA& s3) override;
  bool OnEventW(int code, void* sender, const TQStringW& s1, const TQStringW& s2,
                const TQStringW& s3) override;

  // Handles one local notification message; always true.
  bool handleNotification(const TQStringW& text);
  static void doAddUserUnit(const wchar_t* pszUser, const wchar_t* pszComputerName,
                            const wchar_t* pszURI, const wchar_t* pszComputerUserUnit,
                            const wchar_t* pszUserUnit);
  void markUserUnitsLoggedOff(const wchar_t* computerUserUnit, const wchar_t* userUnit);
  // Body of the IP change monitor thread; returns 0 once stopEvent is signalled.
  int IPThreadProcMethod();

  // Members, in the order of the plug-in's layout.
  int32_t refCount = 0;
  int32_t interfaceVersion = 2;
  TQStringW watchedUser;
  TQStringW watchedUserUnit;
  TQStringW watchedComputerUserUnit;
  uint8_t watchShell = 1;
  SMENDPOINT endpoint = 0;
  ITQEventSink* hostSink = nullptr;
  TQptr<ITQOSThread> ipMonitor;
  TQptr<ITQOSThread> shellWatcher;
  TQptr<ITQOSLock> watcherLock;
  std::optional<kiv::platform::Event> stopEvent;
  std::optional<kiv::platform::Event> userLogonEvent;
  SessionTable sessionUsers;
  std::optional<kiv::platform::Event> resumeEvent;
  // Written by power events on the host's thread, read by the IP monitor thread.
  std::atomic<uint8_t> suspended{0};
  TQptr<ITQXMLParser> xmlParser;

  // How long the IP monitor waits for a resume while suspended; tests shorten it.
  uint32_t resumeWaitMs = 60000;

  // Reports one event to the host sink (no-op without a sink).
  void report(int code, const TQStringW& s1 = TQStringW(), const TQStringW& s2 = TQStringW(),
              const TQStringW& s3 = TQStringW());
};

// Thread functions; both get the notifier as their second argument.
int ipThreadEntry(void* context, void* notifier);
int shellWatcherThread(void* first, void* notifier);
// Fills `name` with the upper-cased "Shell" value of the Winlogon key, or "EXPLORER.EXE".
void readShellName(TQStringW& name);

// The bus callback of the endpoint "tqNotify".
uint32_t onBusMessage(void* first, void* second, void* third, int kind, SmMessage* message,
                      void* context);
