// Module file names for handles the loader does not know, and the file name a module
// initialised from a very long installation path keeps. The long path goes first: a module
// the loader keeps mapped after its unload would otherwise be found again at its old path.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <filesystem>
#include <string>

#include "support/kiv_test.h"
#include "test_module.h"
#include "tqUtilities.h"

namespace {

TEST(ModuleFileName, HandleTheLoaderDoesNotKnowAnswersZero) {
  wchar_t buffer[512] = L"untouched";
  // Looks like a loader entry, but no module was ever loaded under it.
  link_map madeUp{};
  char name[] = "/not/a/loaded/module.so";
  madeUp.l_name = name;
  EXPECT_EQ(TQPorting_GetModuleFileNameW(&madeUp, buffer, 512), 0u);
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
  PluginModule() : handle_(dlopen((kivtest::libDir() + "/libtqNotify.so").c_str(), RTLD_NOW)) {}
  ~PluginModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  template <class Function>
  Function entry(const char* name) const {
    return handle_ == nullptr ? nullptr : reinterpret_cast<Function>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

TEST(ModuleFileName, ModuleBelowAPathLongerThan260KeepsItsFileName) {
  // Each level well below the file-name limit, the whole path far beyond 260 characters.
  std::string directory = kivtest::home();
  for (char level = 'a'; level <= 'd'; ++level) directory += "/" + std::string(100, level);
  std::filesystem::create_directories(directory);
  std::filesystem::create_symlink(kivtest::libDir() + "/libtqNotify.so", directory + "/libtqNotify.so");
  ASSERT_GT((directory + "/libtqNotify.so").size(), 400u);
  setenv("KIV_MODULE_PATH", directory.c_str(), 1);

  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  unsetenv("KIV_MODULE_PATH");
  ASSERT_NE(module, nullptr);
  wchar_t path[1024];
  ASSERT_GT(TQPorting_GetModuleFileNameW(module, path, 1024), 260u) << "loaded from the long directory";
  EXPECT_TRUE(kivtest::traced("file: libtqNotify.so: version"));
  TQFactory_Unload(module);
  std::filesystem::remove_all(kivtest::home() + "/" + std::string(100, 'a'));
}

TEST(ModuleFileName, InitWithAnUnknownHandleDoesNotCrash) {
  PluginModule plugin;
  auto init = plugin.entry<InitFunction>("TQInit");
  auto terminate = plugin.entry<TerminateFunction>("TQTerminate");
  ASSERT_NE(init, nullptr) << dlerror();
  ASSERT_NE(terminate, nullptr);
  terminate();  // the loader may have kept the module of an earlier test, initialised
  link_map madeUp{};
  EXPECT_EQ(init(&madeUp), 1);
  EXPECT_TRUE(kivtest::traced("hLib: 0x" + [&] {
    char text[32];
    std::snprintf(text, sizeof text, "%lx", reinterpret_cast<unsigned long>(&madeUp));
    return std::string(text);
  }() + " file: : version"));
  EXPECT_EQ(terminate(), 1);
}

}  // namespace
