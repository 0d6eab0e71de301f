// A stand-in tqOSServices module for tests: terminal-services sessions and their users come
// from a script file named by KIV_FAKE_SESSIONS (read anew on every call, one session a
// line: "number state [domain user]"; KIV_FAKE_QUERY_LOG names a file that gets one line
// per user query), and every other class is created by the real module.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <strings.h>

#include "TQOSServices.h"
#include "TQString.h"
#include "tqUtilities.h"

namespace {

std::atomic<HTQMODULE> g_module{nullptr};

struct ScriptedSession {
  uint32_t number = 0;
  int state = 0;
  std::wstring domain, user;
};

std::wstring widen(const std::string& text) {
  TQStringW wide;
  wide.assign_utf8(text.c_str());
  return wide.str();
}

std::vector<ScriptedSession> readScript() {
  std::vector<ScriptedSession> sessions;
  const char* path = std::getenv("KIV_FAKE_SESSIONS");
  if (path == nullptr) return sessions;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    ScriptedSession session;
    std::string domain, user;
    if (!(fields >> session.number >> session.state)) continue;
    if (fields >> domain >> user) {
      session.domain = widen(domain);
      session.user = widen(user);
    }
    sessions.push_back(session);
  }
  return sessions;
}

// Reference counting like the real components: objects handed out by another object take
// a module load of their own, released by their last holder through the factory.
template <class Interface>
class Counted : public Interface {
 public:
  explicit Counted(bool handedOut) {
    if (handedOut) TQFactory_AddRefModule(g_module.load());
  }
  void AddRef() override { ++refs_; }
  int Release() override {
    const int left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  int CheckVersion(int) override { return 1; }
  HTQMODULE GetLibraryHandle() override { return g_module.load(); }

 private:
  std::atomic<int> refs_{1};
};

class FakeSessionUser : public Counted<TQOSSessionUser> {
 public:
  explicit FakeSessionUser(const ScriptedSession& s) : Counted(true) {
    user_ = s.user;
    domain_ = s.domain;
    account_ = s.domain + L"\\" + s.user;
    uri_ = L"winnt://" + s.domain + L"/" + s.user;
  }
  const wchar_t* userName() override { return user_.c_str(); }
  const wchar_t* domainName() override { return domain_.c_str(); }
  const wchar_t* accountName() override { return account_.c_str(); }
  const wchar_t* uri() override { return uri_.c_str(); }

 private:
  std::wstring user_, domain_, account_, uri_;
};

class FakeTerminalServices : public Counted<TQOSTerminalServices> {
 public:
  FakeTerminalServices() : Counted(false) {}
  int query() override { return 1; }
  int querySessionUser(uint32_t session, TQOSSessionUser** user) override {
    if (const char* log = std::getenv("KIV_FAKE_QUERY_LOG"); log != nullptr) {
      std::ofstream(log, std::ios::app) << session << '\n';
    }
    for (const auto& s : readScript()) {
      if (s.number != session || s.user.empty()) continue;
      *user = new FakeSessionUser(s);
      return 0;
    }
    return 1;
  }
};

class FakeSessionEnum : public Counted<TQOSTSEnum> {
 public:
  FakeSessionEnum() : Counted(false), sessions_(readScript()) {}
  uint32_t count() override { return static_cast<uint32_t>(sessions_.size()); }
  int getSession(uint32_t index, uint32_t* session, int, int* state) override {
    if (index >= sessions_.size()) return 1;
    *session = sessions_[index].number;
    *state = sessions_[index].state;
    return 0;
  }

 private:
  std::vector<ScriptedSession> sessions_;
};

// The real module, opened by path and initialised with this module's handle so that its
// objects name this module for the factory's bookkeeping.
class RealModule {
 public:
  ~RealModule() {
    if (handle_ != nullptr) close();
  }
  TQCreateInstanceFn create() {
    if (handle_ == nullptr) {
      if (!open()) return nullptr;
      auto init = reinterpret_cast<TQInitFn>(symbol("TQInit"));
      if (init != nullptr) init(g_module.load());
    }
    return reinterpret_cast<TQCreateInstanceFn>(symbol("TQCreateInstance"));
  }

 private:
#ifdef _WIN32
  bool open() {
    handle_ = LoadLibraryA(KIV_REAL_OSSERVICES);
    if (handle_ == nullptr) std::fprintf(stderr, "fake tqOSServices: error %lu\n", GetLastError());
    return handle_ != nullptr;
  }
  void* symbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(handle_, name));
  }
  void close() { FreeLibrary(handle_); }
  HMODULE handle_ = nullptr;
#else
  bool open() {
    handle_ = dlopen(KIV_REAL_OSSERVICES, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) std::fprintf(stderr, "fake tqOSServices: %s\n", dlerror());
    return handle_ != nullptr;
  }
  void* symbol(const char* name) { return dlsym(handle_, name); }
  void close() { dlclose(handle_); }
  void* handle_ = nullptr;
#endif
};

RealModule g_real;

}  // namespace

extern "C" TQ_API int TQInit(HTQMODULE handle) {
  if (handle == nullptr) return 0;
  HTQMODULE expected = nullptr;
  g_module.compare_exchange_strong(expected, handle);
  return 1;
}

extern "C" TQ_API int TQTerminate() { return 1; }

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  if (className != nullptr && strcasecmp(className, "TQOSTerminalServices") == 0) {
    return new FakeTerminalServices();
  }
  if (className != nullptr && strcasecmp(className, "TQOSTSEnum") == 0) return new FakeSessionEnum();
  TQCreateInstanceFn create = g_real.create();
  return create != nullptr ? create(className, version) : nullptr;
}
