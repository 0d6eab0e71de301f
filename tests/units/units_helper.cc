// A small agent component for the multi-process units tests.
//   units_helper add PREFIX COUNT  adds COUNT new units, each under the units lock
//   units_helper hold FILE         takes the units lock, creates FILE and waits to be killed
//   units_helper lock              takes and gives back the units lock; exits with the result
//   units_helper path              prints the units directory
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"

namespace {

int addUnits(const char* prefix, int count) {
  for (int i = 0; i < count; ++i) {
    TQptr<ITQOSLock> mutex;
    int locked = lockUnitsDB(mutex.fill());
    if (locked != 0) {
      std::fprintf(stderr, "lockUnitsDB: %d\n", locked);
      return 10 + locked;
    }
    UnitInfoW unit;
    unit.name.format(L"%hs-%d", prefix, i);
    unit.unittype = L"User";
    int added = addUnitW(&unit, kUnitType);
    unlockUnitsDB(mutex.get());
    if (added != 0) {
      std::fprintf(stderr, "addUnitW: %d\n", added);
      return 20 + added;
    }
  }
  return 0;
}

int holdLock(const char* file) {
  TQptr<ITQOSLock> mutex;
  int locked = lockUnitsDB(mutex.fill());
  if (locked != 0) return locked;
  if (FILE* marker = std::fopen(file, "w")) std::fclose(marker);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int lockOnce() {
  TQptr<ITQOSLock> mutex;
  int locked = lockUnitsDB(mutex.fill());
  std::printf("%d\n", locked);
  unlockUnitsDB(mutex.get());
  return locked;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "add" && argc == 4) return addUnits(argv[2], std::atoi(argv[3]));
  if (mode == "hold" && argc == 3) return holdLock(argv[2]);
  if (mode == "lock") return lockOnce();
  if (mode == "path") {
    std::printf("%s\n", getUnitsPathA().c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: units_helper add PREFIX COUNT | hold FILE | lock | path\n");
  return 2;
}
