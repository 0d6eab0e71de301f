// Loading and unloading are serialised by one recursive lock: a module's TQInit and its
// static constructors and destructors may load or unload other modules on the same
// thread. Counts live under their own lock so that objects can count themselves from any
// thread while a load is in progress.
#include "module_table.h"

#include <mutex>
#include <set>
#include <unordered_map>

#include "framework/tqUtilities/dynamic_library.h"
#include "module_search.h"
#include "tqUtilities.h"
#include "platform/utf8.h"

namespace kiv::factory {
namespace {

struct Module {
  std::string path;
  int loads = 0;
};

struct Table {
  std::recursive_mutex loading;  // held across loading, TQInit and closing
  std::mutex counts;             // guards the maps below
  std::unordered_map<HTQMODULE, Module> modules;
  std::unordered_map<HTQMODULE, int> instances;
  std::set<std::string> reportedFailures;
};

Table& table() {
  static Table* instance = new Table;  // outlives modules unloaded during exit
  return *instance;
}

void error(const std::string& text) {
  TQUtilities_TraceErrorW(nullptr, L"%hs", text.c_str());
}

// Failures to load are traced once per module name, so that a missing optional module
// does not fill the trace file.
void reportLoadFailure(const std::string& name, const std::string& reason) {
  {
    std::lock_guard lock(table().counts);
    if (!table().reportedFailures.insert(name).second) return;
  }
  error("TQFactory_LoadExW: cannot load module " + name + ": " + reason);
}

std::string searchedDirectories() {
  std::string text;
  for (const auto& directory : moduleDirectories()) {
    if (!text.empty()) text += pathListSeparator();
    text += directory;
  }
  return text;
}

// Opens the library file; null with the failure traced.
HTQMODULE openModule(const std::string& name, const std::string& path) {
  std::string reason;
  HTQMODULE handle = openLibrary(path, &reason);
  if (handle == nullptr) {
    reportLoadFailure(name, reason);
    return nullptr;
  }
  if (librarySymbol(handle, "TQCreateInstance", &reason) == nullptr) {
    reportLoadFailure(name, reason);
    closeLibrary(handle);
    return nullptr;
  }
  return handle;
}

}  // namespace

HTQMODULE loadModule(const std::wstring& wideName) {
  const std::string name = utf::narrow(wideName);
  if (!isPlainModuleName(name)) {
    error("TQFactory_LoadExW: bad module name \"" + name + "\"");
    return nullptr;
  }
  const std::string path = findModule(name);
  if (path.empty()) {
    reportLoadFailure(name, libraryFileName(name) + " not found in " + searchedDirectories());
    return nullptr;
  }
  std::lock_guard loading(table().loading);
  HTQMODULE handle = openModule(name, path);
  if (handle == nullptr) return nullptr;
  {
    std::lock_guard lock(table().counts);
    auto found = table().modules.find(handle);
    if (found != table().modules.end()) {
      ++found->second.loads;
      closeLibrary(handle);  // the table keeps exactly one reference of the loader
      return handle;
    }
    table().modules.emplace(handle, Module{path, 1});
  }
  if (auto init = reinterpret_cast<TQInitFn>(librarySymbol(handle, "TQInit", nullptr))) init(handle);
  return handle;
}

bool addLoad(HTQMODULE module) {
  std::lock_guard lock(table().counts);
  auto found = table().modules.find(module);
  if (found == table().modules.end()) return false;
  ++found->second.loads;
  return true;
}

void dropLoad(HTQMODULE module) {
  std::lock_guard loading(table().loading);
  std::string path;
  int live = 0;
  {
    std::lock_guard lock(table().counts);
    auto found = table().modules.find(module);
    if (found == table().modules.end()) {
      error("TQFactory_Unload: unknown module handle");
      return;
    }
    if (--found->second.loads > 0) return;
    path = found->second.path;
    table().modules.erase(found);
    auto counted = table().instances.find(module);
    if (counted != table().instances.end()) live = counted->second;
    if (live <= 0 && counted != table().instances.end()) table().instances.erase(counted);
  }
  // Closing a library whose objects are still alive would leave them without code; such
  // a module stays mapped.
  if (live > 0) {
    error("TQFactory_Unload: " + path + " still has " + std::to_string(live) + " live objects; kept loaded");
    return;
  }
  closeLibrary(module);
}

void* symbol(HTQMODULE module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  std::lock_guard loading(table().loading);  // the module cannot be closed meanwhile
  {
    std::lock_guard lock(table().counts);
    if (table().modules.find(module) == table().modules.end()) return nullptr;
  }
  return librarySymbol(module, name, nullptr);
}

std::string pathOf(HTQMODULE module) {
  std::lock_guard lock(table().counts);
  auto found = table().modules.find(module);
  return found == table().modules.end() ? "" : found->second.path;
}

int changeInstances(HTQMODULE module, int delta) {
  std::lock_guard lock(table().counts);
  int& count = table().instances[module];
  count += delta;
  if (count < 0) count = 0;  // more releases than creations: keep the count meaningful
  return count;
}

int instances(HTQMODULE module) {
  std::lock_guard lock(table().counts);
  auto found = table().instances.find(module);
  return found == table().instances.end() ? 0 : found->second;
}

}  // namespace kiv::factory
