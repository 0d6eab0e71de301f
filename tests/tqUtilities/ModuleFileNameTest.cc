// Module file names for handles the loader does not know, and the file name a module
// initialised from a very long installation path keeps. The long path goes first: a module
// the loader keeps mapped after its unload would otherwise be found again at its old path.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "test_module.h"
#include "tqUtilities.h"

namespace {

// A handle the loader never gave out. On Linux it looks like a loader entry with a name.
struct MadeUpHandle {
#ifdef _WIN32
  char bytes[64] = {};
#else
  MadeUpHandle() { entry.l_name = name; }
  char name[32] = "/not/a/loaded/module.so";
  link_map entry{};
#endif
  HTQMODULE get() {
#ifdef _WIN32
    return bytes;
#else
    return &entry;
#endif
  }
};

// The plug-in module's file in the build.
const std::string kPluginFile = testmodule::fileName("tqNotify");

TEST(ModuleFileName, HandleTheLoaderDoesNotKnowAnswersZero) {
  wchar_t buffer[512] = L"untouched";
  MadeUpHandle madeUp;
  EXPECT_EQ(TQPorting_GetModuleFileNameW(madeUp.get(), buffer, 512), 0u);
  EXPECT_EQ(buffer[0], L'\0');

  // A module that was loaded and is gone again.
  testmodule::useTestModules();
  HTQMODULE module = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(module, nullptr);
  ASSERT_GT(TQPorting_GetModuleFileNameW(module, buffer, 512), 0u);
  TQFactory_Unload(module);
  ASSERT_FALSE(testmodule::loaded());
  EXPECT_EQ(TQPorting_GetModuleFileNameW(module, buffer, 512), 0u);
}

using InitFunction = int (*)(HTQMODULE);
using TerminateFunction = int (*)();

// The plug-in module opened directly, so its entry points can be called with any handle.
class PluginModule {
 public:
#ifdef _WIN32
  PluginModule() : handle_(LoadLibraryW(kiv::utf::widen(kivtest::libDir() + "/" + kPluginFile).c_str())) {}
  ~PluginModule() {
    if (handle_ != nullptr) FreeLibrary(handle_);
  }
  template <class Function>
  Function entry(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
  }

 private:
  HMODULE handle_;
#else
  PluginModule() : handle_(dlopen((kivtest::libDir() + "/" + kPluginFile).c_str(), RTLD_NOW)) {}
  ~PluginModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  template <class Function>
  Function entry(const char* name) const {
    return handle_ == nullptr ? nullptr : reinterpret_cast<Function>(dlsym(handle_, name));
  }

 private:
  void* handle_;
#endif
};

// The Windows loader takes no module path longer than MAX_PATH (LoadLibraryExW answers
// "module not found"), so a module is never loaded from there.
#ifndef _WIN32
TEST(ModuleFileName, ModuleBelowAPathLongerThan260KeepsItsFileName) {
  // Each level well below the file-name limit, the whole path far beyond 260 characters.
  std::string directory = kivtest::home();
  for (char level = 'a'; level <= 'd'; ++level) directory += "/" + std::string(100, level);
  std::filesystem::create_directories(directory);
  const std::string file = directory + "/" + kPluginFile;
  std::filesystem::create_symlink(kivtest::libDir() + "/" + kPluginFile, file);
  ASSERT_GT(file.size(), 400u);
  kivtest::setEnvironment("KIV_MODULE_PATH", directory.c_str(), true);

  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  kivtest::unsetEnvironment("KIV_MODULE_PATH");
  ASSERT_NE(module, nullptr);
  wchar_t path[1024];
  ASSERT_GT(TQPorting_GetModuleFileNameW(module, path, 1024), 260u) << "loaded from the long directory";
  EXPECT_TRUE(kivtest::traced("file: " + kPluginFile + ": version"));
  TQFactory_Unload(module);
  std::filesystem::remove_all(kivtest::home() + "/" + std::string(100, 'a'));
}
#endif

TEST(ModuleFileName, InitWithAnUnknownHandleDoesNotCrash) {
  PluginModule plugin;
  auto init = plugin.entry<InitFunction>("TQInit");
  auto terminate = plugin.entry<TerminateFunction>("TQTerminate");
  ASSERT_NE(init, nullptr);
  ASSERT_NE(terminate, nullptr);
  terminate();  // the loader may have kept the module of an earlier test, initialised
  MadeUpHandle madeUp;
  EXPECT_EQ(init(madeUp.get()), 1);
  char text[32];
  std::snprintf(text, sizeof text, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(madeUp.get())));
  EXPECT_TRUE(kivtest::traced(std::string("hLib: 0x") + text + " file: : version"));
  EXPECT_EQ(terminate(), 1);
}

}  // namespace
