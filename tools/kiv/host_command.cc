// `kiv host [--json]`: loads the tqNotify plug-in through the factory, prints every event it
// reports as one line on stdout, feeds it host events from the bus endpoint "tqHost", and
// shuts it down in order when asked to stop (see host_stop.h). The run itself (host_run.h)
// also serves the Windows service.
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>

#include "ITQEventSink.h"
#include "ITQPlugin.h"
#include "ITQXMLParser.h"
#include "TQSMCAPI.h"
#include "TQString.h"
#include "tools/kiv/commands.h"
#include "tools/kiv/descriptor_limit.h"
#include "tools/kiv/host_event_source.h"
#include "tools/kiv/host_run.h"
#include "tools/kiv/host_stop.h"
#include "tools/kiv/journal_output.h"
#include "tools/kiv/process_setup.h"
#include "tools/kiv/store_check.h"
#include "tools/kiv/text_output.h"
#include "tqNotify/framework/TQptr.h"
#include "tqUtilities.h"

namespace kiv::tool {
namespace {

constexpr const char* kHostEndpoint = "tqHost";

// The host's event sink: the plug-in calls it from the host's thread, the bus delivery
// thread and its own worker threads, so lines are written one at a time. When whoever reads
// standard output goes away the host goes on running: from then on each event is traced
// instead of printed.
class PrintingSink : public ITQEventSink {
 public:
  explicit PrintingSink(const HostRole& role)
      : json_(role.json), onEvent_(role.onEvent), outputClosed_(!role.printEvents) {}

  bool OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                const TQStringA& s3) override {
    return forwardToOnEventW(*this, code, sender, s1, s2, s3);
  }

  bool OnEventW(int code, void*, const TQStringW& s1, const TQStringW& s2,
                const TQStringW& s3) override {
    std::string line;
    if (json_) {
      line = "{\"code\":" + std::to_string(code) + ",\"s1\":" + quoted(utf8(s1)) +
             ",\"s2\":" + quoted(utf8(s2)) + ",\"s3\":" + quoted(utf8(s3)) + "}";
    } else {
      line = std::to_string(code) + " " + quoted(utf8(s1)) + " " + quoted(utf8(s2)) +
             " " + quoted(utf8(s3));
    }
    std::lock_guard<std::mutex> guard(lock_);
    const bool journaled =
        journal_ != JournalUse::kNone && journalEvent(code, utf8(s1), utf8(s2), utf8(s3), line);
    const std::string note = onEvent_ ? onEvent_(code, s1, s2, s3) : std::string();
    // A journal that refuses the entry still gets the line on its stream.
    if (journaled && journal_ == JournalUse::kInstead) return true;
    if (!outputClosed_) {
      line += '\n';
      const bool written = std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
      if (written) return true;
      outputClosed_ = true;
      std::clearerr(stdout);
      TQUtilities_TraceErrorW(L"kiv", L"kiv host: standard output cannot be written any more; "
                                      L"events are traced from now on");
      line.pop_back();
    }
    TQUtilities_TraceW(L"kiv", L"kiv host: event %hs%hs", line.c_str(), note.c_str());
    return true;
  }

 private:
  bool json_;
  const JournalUse journal_ = journalUse();
  decltype(HostRole::onEvent) onEvent_;
  std::mutex lock_;
  bool outputClosed_;
};

// What the "tqHost" callback needs: the plug-in's own sink and a parser for the messages.
struct HostEventRoute {
  ITQEventSink* plugin = nullptr;
  TQptr<ITQXMLParser> parser;
  std::mutex lock;  // the plug-in expects host events one at a time
};

TQStringW attribute(ITQXMLDocument* document, const wchar_t* name) {
  TQStringW value;
  document->queryShortValue(value, name);
  return value;
}

// <HostEvent code="15" s1="5" s2="3" s3=""/> from this machine is handed to the plug-in's
// OnEventW. Host events speak for the machine itself (logons, suspend), so one that comes
// from another machine is refused.
uint32_t onHostEvent(void* first, void*, void* third, int kind, SmMessage* message, void* context) {
  auto* route = static_cast<HostEventRoute*>(context);
  if (kind != 1 || route == nullptr || message == nullptr || message->text == nullptr) {
    return kSmRefused;
  }
  int isLocal = 0;
  if (SmIsLocalMessage(first, third, &isLocal) != 0 || isLocal == 0) {
    TQUtilities_TraceW(L"kiv", L"kiv host: refused a message from another machine on bus "
                               L"endpoint \"%hs\"", kHostEndpoint);
    return kSmRefused;
  }
  TQStringW text;
  text.assign_utf8(message->text);
  std::lock_guard<std::mutex> guard(route->lock);
  if (!route->parser) return kSmRefused;
  TQptr<ITQXMLDocument> document;
  if (route->parser->parse(document.fill(), text.c_str()) != 0 || !document ||
      document->selectElement(L"HostEvent", 0) != 0) {
    return kSmRefused;
  }
  const TQStringW codeText = attribute(document.get(), L"code");
  wchar_t* end = nullptr;
  const long code = std::wcstol(codeText.c_str(), &end, 10);
  if (codeText.empty() || *end != L'\0') return kSmRefused;
  route->plugin->OnEventW(static_cast<int>(code), nullptr, attribute(document.get(), L"s1"),
                          attribute(document.get(), L"s2"), attribute(document.get(), L"s3"));
  return kSmTaken;
}

int fail(const HostRole& role, HostFailure failure, const std::string& message) {
  role.failed(failure, message);
  return static_cast<int>(failure);
}

// Names the running host that holds one of our endpoints; empty when none does.
std::string heldByAnotherHost() {
  for (const char* endpoint : {kHostEndpoint, "tqNotify"}) {
    int pid = 0;
    if (SmQueryEndPointOwner(endpoint, &pid) != 0 || pid == currentProcessId()) continue;
    return std::string("another host is running") +
           (pid > 0 ? " (process " + std::to_string(pid) + ")" : std::string()) +
           ": it holds the bus endpoint \"" + endpoint + "\"";
  }
  return {};
}

// The loaded module and the plug-in object; the destructor undoes whatever was done, in
// the order the plug-in expects: shutdown, release, terminate, unload.
class LoadedPlugin {
 public:
  ~LoadedPlugin() {
    if (plugin_ != nullptr) {
      if (initialised_) plugin_->ShutdownW(TQStringW(), 0);
      plugin_->Release();
    }
    if (module_ != nullptr) {
      auto terminate = reinterpret_cast<TQTerminateFn>(TQFactory_GetProcAddress(module_, "TQTerminate"));
      if (terminate != nullptr) terminate();
      TQFactory_Unload(module_);
    }
  }

  std::string load() {
    module_ = TQFactory_LoadExW(L"tqNotify", 1);
    if (module_ == nullptr) {
      return "cannot load the plug-in module \"tqNotify\" (it was not found on "
             "KIV_MODULE_PATH nor beside the tqUtilities library, or it failed to load)";
    }
    ITQImpl* object = TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, L"kiv", 1);
    plugin_ = dynamic_cast<ITQPlugin*>(object);
    if (plugin_ == nullptr) {
      if (object != nullptr) object->Release();
      return "the plug-in module \"tqNotify\" did not create an \"ITQPlugin\" object of "
             "interface version 2";
    }
    return {};
  }

  std::string initialise(ITQEventSink* sink) {
    PluginInitInfo info;
    info.sink = sink;
    // Even a failed start-up leaves threads behind that only the shutdown ends.
    initialised_ = true;
    if (!plugin_->Initialize(std::move(info))) {
      return "the plug-in \"tqNotify\" failed to initialise (see the trace in "
             "$KIV_HOME/log/kiv.log)";
    }
    return {};
  }

  ITQPlugin* plugin() const { return plugin_; }

 private:
  HTQMODULE module_ = nullptr;
  ITQPlugin* plugin_ = nullptr;
  bool initialised_ = false;
};

// The endpoint "tqHost", open for the lifetime of this object.
class HostEndpoint {
 public:
  ~HostEndpoint() {
    if (open_) SmCloseEndPoint(endpoint_);
    if (initialised_) SmDeinitialize();
  }

  std::string open(HostEventRoute* route) {
    const unsigned char options[4] = {1, 0, 0, 0};
    const int initResult = SmInitialize(options, nullptr);
    if (initResult != 0) return std::string("cannot initialise the message bus: ") + SmErrorText(initResult);
    initialised_ = true;
    const int openResult = SmOpenEndPointU(kHostEndpoint, 0, onHostEvent, 0, route, &endpoint_);
    if (openResult != 0) {
      return std::string("cannot open the bus endpoint \"tqHost\": ") + SmErrorText(openResult);
    }
    open_ = true;
    return {};
  }

 private:
  SMENDPOINT endpoint_ = 0;
  bool initialised_ = false;
  bool open_ = false;
};

}  // namespace

int runHost(const HostRole& role) {
  raiseDescriptorLimit();
  if (auto held = heldByAnotherHost(); !held.empty()) return fail(role, HostFailure::kAnotherHost, held);
  reportStoreProblem("kiv host");  // the plug-in would take a damaged store for an empty one
  PrintingSink sink(role);
  LoadedPlugin loaded;
  if (auto error = loaded.load(); !error.empty()) return fail(role, HostFailure::kNoPlugin, error);
  if (auto error = loaded.initialise(&sink); !error.empty()) {
    // Another host may have started meanwhile.
    const std::string held = heldByAnotherHost();
    return held.empty() ? fail(role, HostFailure::kPluginStart, error)
                        : fail(role, HostFailure::kAnotherHost, held);
  }

  HostEventRoute route;
  route.plugin = dynamic_cast<ITQEventSink*>(loaded.plugin());
  if (route.plugin == nullptr) {
    return fail(role, HostFailure::kNoPlugin, "the plug-in \"tqNotify\" takes no host events");
  }
  if (!route.parser.CreateInstanceV4(L"tqXMLParser", "ITQXMLParser", L"kiv")) {
    return fail(role, HostFailure::kComponents, "cannot create the XML parser component \"tqXMLParser\"");
  }
  {
    HostEndpoint endpoint;
    if (auto error = endpoint.open(&route); !error.empty()) {
      return fail(role, HostFailure::kComponents, error);
    }

    // Session and power changes of this machine, delivered one at a time like the
    // messages of "tqHost". Declared after the endpoint, so they stop before it closes.
    std::string sourcesText;
    auto sources = role.startSources(
        [&route](int code, const std::wstring& s1, const std::wstring& s2) {
          std::lock_guard<std::mutex> guard(route.lock);
          route.plugin->OnEventW(code, nullptr, TQStringW(s1.c_str()), TQStringW(s2.c_str()),
                                 TQStringW());
        },
        &sourcesText);
    TQUtilities_TraceW(L"kiv", L"kiv host: %hs", sourcesText.c_str());
    role.ready(sourcesText);
    role.waitForStop();
    role.stopping();
  }  // sources and "tqHost" end first, so no host event reaches a plug-in shutting down
  return 0;  // ~LoadedPlugin: shutdown, release, terminate, unload
}

void addHostCommand(CLI::App& app, int& exitCode) {
  auto json = std::make_shared<bool>(false);
  auto* host = app.add_subcommand("host", std::string("Run the tqNotify plug-in until ") + stopRequestNames());
  host->add_flag("--json", *json, "Print each event as one JSON object per line");
  host->callback([&exitCode, json] {
    catchStopRequests();
    HostRole role;
    role.json = *json;
    role.startSources = startHostEventSources;
    role.waitForStop = waitForStopRequest;
    role.ready = [](const std::string& sources) {
      std::fprintf(stderr, "kiv host: running plug-in tqNotify, host events on bus endpoint "
                           "\"tqHost\"; %s; stop with %s\n", sources.c_str(), stopRequestNames());
      std::fflush(stderr);
      announceReady();
    };
    role.stopping = announceStopping;
    role.failed = [](HostFailure, const std::string& why) {
      std::fprintf(stderr, "kiv host: %s\n", why.c_str());
    };
    exitCode = runHost(role) == 0 ? 0 : 1;
  });
}

}  // namespace kiv::tool
