// `kiv units`: list, read, add units and show the units directory, through the exports of
// the tqNotify module loaded by the factory, as any other agent component uses them.
#include <charconv>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tools/kiv/commands.h"
#include "tools/kiv/store_check.h"
#include "tools/kiv/text_output.h"
#include "tools/kiv/wide_argument.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"

namespace kiv::tool {
namespace {

constexpr uint32_t kAllTypes = 0x3f;
constexpr uint32_t kAllFields = 0xffff;

// The module and the exports this tool calls; the module is unloaded with the last use.
class UnitsModule {
 public:
  UnitsModule() : module_(TQFactory_LoadExW(L"tqNotify", 1)) {
    if (module_ == nullptr) return;
    ok_ = find("getUnitsPathA", getUnitsPath) && find("lockUnitsDB", lock) &&
          find("unlockUnitsDB", unlock) && find("addUnitW", addUnit) &&
          find("getUnitExW", getUnitEx) && find("enumerateUnitsExW", enumerate) &&
          find("freeUnitListW", freeList);
  }
  ~UnitsModule() {
    if (module_ != nullptr) TQFactory_Unload(module_);
  }
  UnitsModule(const UnitsModule&) = delete;
  UnitsModule& operator=(const UnitsModule&) = delete;

  bool ok() const { return ok_; }

  decltype(&::getUnitsPathA) getUnitsPath = nullptr;
  decltype(&::lockUnitsDB) lock = nullptr;
  decltype(&::unlockUnitsDB) unlock = nullptr;
  decltype(&::addUnitW) addUnit = nullptr;
  decltype(&::getUnitExW) getUnitEx = nullptr;
  decltype(&::enumerateUnitsExW) enumerate = nullptr;
  decltype(&::freeUnitListW) freeList = nullptr;

 private:
  template <class F>
  bool find(const char* name, F& function) {
    function = reinterpret_cast<F>(TQFactory_GetProcAddress(module_, name));
    if (function == nullptr) std::fprintf(stderr, "kiv units: tqNotify lacks %s\n", name);
    return function != nullptr;
  }

  HTQMODULE module_;
  bool ok_ = false;
};

// Decimal or 0x-hexadecimal.
bool parseNumber(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(begin, end, *value, hex ? 16 : 10);
  return begin != end && error == std::errc() && stop == end;
}

bool parseInteger(const std::string& text, int32_t* value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, *value);
  return !text.empty() && error == std::errc() && stop == end;
}

uint32_t maskOption(const std::string& text, const char* option) {
  uint32_t mask = 0;
  if (!parseNumber(text, &mask)) {
    throw CLI::ValidationError(option, "'" + text + "' is not a decimal or 0x-hexadecimal mask");
  }
  return mask;
}

// ---- Record fields by name, in record order.

struct FieldRef {
  const char* name;
  uint32_t bit;  // 0: not selectable
  TQStringW UnitInfoW::*text;
  int32_t UnitInfoW::*number;
};

const std::vector<FieldRef>& recordFields() {
  using W = UnitInfoW;
  static const std::vector<FieldRef> fields = {
      {"name", 0, &W::name, nullptr},
      {"unittype", kUnitType, &W::unittype, nullptr},
      {"homedirectory", 0, &W::homedirectory, nullptr},
      {"executioncontext", kUnitExecutionContext, &W::executioncontext, nullptr},
      {"triggable", kUnitTriggable, nullptr, &W::triggable},
      {"previousmanageraddress", kUnitPreviousManagerAddress, &W::previousmanageraddress,
       nullptr},
      {"referencecount", kUnitReferenceCount, nullptr, &W::referencecount},
      {"domain", kUnitDomain, &W::domain, nullptr},
      {"user", kUnitUser, &W::user, nullptr},
      {"previousserveraddress", kUnitPreviousServerAddress, &W::previousserveraddress, nullptr},
      {"previousdomainuuid", kUnitPreviousDomainUuid, &W::previousdomainuuid, nullptr},
      {"localuser", kUnitLocalUser, nullptr, &W::localuser},
      {"uri", kUnitUri, &W::uri, nullptr},
      {"lastmsisource", kUnitLastMsiSource, &W::lastmsisource, nullptr},
      {"currentmanageraddress", kUnitCurrentManagerAddress, &W::currentmanageraddress, nullptr},
      {"currentdomainuuid", kUnitCurrentDomainUuid, &W::currentdomainuuid, nullptr},
      {"previousuri", kUnitPreviousUri, &W::previousuri, nullptr},
  };
  return fields;
}

// Applies one --set FIELD=VALUE to the record and answers the field's selection bit.
uint32_t applySetting(const std::string& setting, UnitInfoW& unit) {
  auto equals = setting.find('=');
  std::string field = setting.substr(0, equals);
  if (equals == std::string::npos) {
    throw CLI::ValidationError("--set", "'" + setting + "' is not FIELD=VALUE");
  }
  std::string value = setting.substr(equals + 1);
  for (const FieldRef& ref : recordFields()) {
    if (field != ref.name) continue;
    if (ref.bit == 0) throw CLI::ValidationError("--set", "field '" + field + "' cannot be set");
    if (ref.text != nullptr) {
      unit.*ref.text = wideArgument("--set " + field, value);
    } else if (!parseInteger(value, &(unit.*ref.number))) {
      throw CLI::ValidationError("--set", "field '" + field + "' takes an integer, not '" +
                                              value + "'");
    }
    return ref.bit;
  }
  throw CLI::ValidationError("--set", "unknown field '" + field + "'");
}

// ---- Output.

std::string jsonRecord(const UnitInfoW& unit) {
  std::string out = "{";
  for (const FieldRef& ref : recordFields()) {
    if (out.size() > 1) out += ",";
    out += quoted(ref.name) + ":";
    out += ref.text ? quoted(utf8(unit.*ref.text)) : std::to_string(unit.*ref.number);
  }
  return out + "}";
}

void printRecord(const UnitInfoW& unit) {
  for (const FieldRef& ref : recordFields()) {
    std::string value = ref.text ? utf8(unit.*ref.text) : std::to_string(unit.*ref.number);
    std::printf("%-24s%s\n", (std::string(ref.name) + ":").c_str(), value.c_str());
  }
}

// ---- Subcommands.

struct Options {
  std::string name;
  std::string types = "0x3f";
  std::string fields = "0xffff";
  std::string type;
  bool typeGiven = false;
  std::vector<std::string> settings;
  bool json = false;
};

int runPath(UnitsModule& units) {
  std::printf("%s\n", units.getUnitsPath().c_str());
  return 0;
}

int runList(UnitsModule& units, const Options& options) {
  uint32_t types = maskOption(options.types, "--types");
  uint32_t fields = maskOption(options.fields, "--fields");
  UnitInfoW* list = nullptr;
  int result = units.enumerate(&list, types, fields);
  if (result != 0) std::fprintf(stderr, "kiv units list: no units to list (%d)\n", result);
  std::string json = "[";
  bool first = true;
  for (const UnitInfoW* unit = list; unit != nullptr; unit = unit->next) {
    if (options.json) {
      json += (first ? "" : ",") + jsonRecord(*unit);
    } else {
      if (!first) std::printf("\n");
      printRecord(*unit);
    }
    first = false;
  }
  if (options.json) std::printf("%s]\n", json.c_str());
  units.freeList(list);
  return result;
}

int runGet(UnitsModule& units, const Options& options) {
  uint32_t fields = maskOption(options.fields, "--fields");
  UnitInfoW unit;
  unit.name = wideArgument("NAME", options.name);
  int result = units.getUnitEx(&unit, fields);
  if (result != 0) {
    std::fprintf(stderr, "kiv units get: unit '%s' not found or refused (%d)\n",
                 options.name.c_str(), result);
    return result;
  }
  if (options.json) {
    std::printf("%s\n", jsonRecord(unit).c_str());
  } else {
    printRecord(unit);
  }
  return result;
}

int runAdd(UnitsModule& units, const Options& options) {
  UnitInfoW unit;
  unit.name = wideArgument("NAME", options.name);
  uint32_t mask = 0;
  if (options.typeGiven) {
    unit.unittype = wideArgument("--type", options.type);
    mask |= kUnitType;
  }
  for (const std::string& setting : options.settings) mask |= applySetting(setting, unit);

  TQptr<ITQOSLock> mutex;
  int locked = units.lock(mutex.fill());
  if (locked != 0) {
    std::fprintf(stderr, "kiv units add: the units lock could not be taken (%d)\n", locked);
    return locked;
  }
  int result = units.addUnit(&unit, mask);
  units.unlock(mutex.get());
  mutex.Release();
  if (result != 0) {
    std::fprintf(stderr, "kiv units add: unit '%s' was not written (%d)\n",
                 options.name.c_str(), result);
  }
  return result;
}

template <class Run>
void runWithModule(int& exitCode, Run run) {
  if (reportStoreProblem("kiv units")) {
    exitCode = kStoreUnusable;
    return;
  }
  UnitsModule units;
  if (!units.ok()) {
    std::fprintf(stderr, "kiv units: the tqNotify module could not be loaded\n");
    exitCode = 1;
    return;
  }
  exitCode = run(units);
  std::fflush(stdout);
}

}  // namespace

void addUnitsCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<Options>();
  CLI::App* units = app.add_subcommand("units", "List, read and add units");
  units->require_subcommand(1);

  CLI::App* list = units->add_subcommand("list", "List units of the selected types");
  list->add_option("--types", options->types, "unit-type mask (default 0x3f: all)");
  list->add_option("--fields", options->fields, "field-selection mask (default 0xffff)");
  list->add_flag("--json", options->json, "one JSON array of records");
  list->callback([&exitCode, options] {
    runWithModule(exitCode, [&](UnitsModule& m) { return runList(m, *options); });
  });

  CLI::App* get = units->add_subcommand("get", "Show one unit");
  get->add_option("NAME", options->name, "unit name")->required();
  get->add_option("--fields", options->fields, "field-selection mask (default 0xffff)");
  get->add_flag("--json", options->json, "the record as one JSON object");
  get->callback([&exitCode, options] {
    runWithModule(exitCode, [&](UnitsModule& m) { return runGet(m, *options); });
  });

  CLI::App* add = units->add_subcommand("add", "Create a unit or update its fields");
  add->add_option("NAME", options->name, "unit name")->required();
  add->add_option("--type", options->type, "unit type (selects the unittype field)");
  add->add_option("--set", options->settings, "FIELD=VALUE, repeatable")
      ->allow_extra_args(false);
  add->callback([&exitCode, options, add] {
    options->typeGiven = add->count("--type") > 0;
    runWithModule(exitCode, [&](UnitsModule& m) { return runAdd(m, *options); });
  });

  units->add_subcommand("path", "Show the units directory")->callback([&exitCode] {
    runWithModule(exitCode, [](UnitsModule& m) { return runPath(m); });
  });
}

}  // namespace kiv::tool
