// `kiv config get|set|list`: read and write the framework configuration store.
#include <charconv>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "TQString.h"
#include "tools/kiv/commands.h"
#include "tools/kiv/store_check.h"
#include "tools/kiv/text_output.h"
#include "tools/kiv/wide_argument.h"
#include "tqNotify/framework/TQptr.h"
#include "tqUtilities.h"

namespace kiv::tool {
namespace {

struct ConfigArgs {
  std::string section, key, value;
  bool asNumber = false;
};

// Decimal, or 0x-hexadecimal up to 0xffffffff (stored as that 32-bit pattern).
std::optional<int32_t> parseNumber(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(first + 2, last, value, 16);
    if (error == std::errc() && end == last) return static_cast<int32_t>(value);
    return std::nullopt;
  }
  int32_t value = 0;
  auto [end, error] = std::from_chars(first, last, value, 10);
  if (!text.empty() && error == std::errc() && end == last) return value;
  return std::nullopt;
}

// A store that opens but is damaged answers reads as if the values were missing, so it is
// checked before anything opens it; one that cannot be opened yields no configuration object.
TQptr<ITQConfig> openStore() {
  TQptr<ITQConfig> config;
  if (reportStoreProblem("kiv config")) return config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  if (!config) std::fprintf(stderr, "kiv config: the configuration store cannot be used (the trace log says why)\n");
  return config;
}

int runGet(const ConfigArgs& args) {
  requireUtf8("SECTION", args.section);
  requireUtf8("KEY", args.key);
  const auto config = openStore();
  if (!config) return kStoreUnusable;
  std::vector<char> buffer(256);
  for (;;) {
    auto size = static_cast<uint32_t>(buffer.size());
    const int rc = config->getStringA(args.section.c_str(), args.key.c_str(), buffer.data(), &size, 0);
    if (rc == kTQConfigMoreData && size > buffer.size()) {
      buffer.resize(size);
      continue;
    }
    if (rc != 0) {
      std::fprintf(stderr, "kiv config get: no value \"%s\" in section \"%s\"\n", args.key.c_str(),
                   args.section.c_str());
      return 1;
    }
    std::printf("%s\n", buffer.data());
    return 0;
  }
}

// The value is stored as the very text given, even when it looks like a number ("00000010"
// stays "00000010"), unless --number asks for a number.
int runSet(const ConfigArgs& args) {
  const TQStringW section = wideArgument("SECTION", args.section);
  const TQStringW key = wideArgument("KEY", args.key);
  const TQStringW text = wideArgument("VALUE", args.value);
  std::optional<int32_t> number;
  if (args.asNumber) {
    number = parseNumber(args.value);
    if (!number) {
      throw CLI::ValidationError("VALUE", "'" + args.value + "' is not a decimal number that fits 32 bits "
                                          "or a 0x-hexadecimal one up to 0xffffffff");
    }
  }
  const auto config = openStore();
  if (!config) return kStoreUnusable;
  const int rc = number ? config->setNumber(section.c_str(), key.c_str(), *number, 0)
                        : config->setStringW(section.c_str(), key.c_str(), text.c_str(), 0);
  if (rc != 0) {
    std::fprintf(stderr, "kiv config set: could not write \"%s\" in section \"%s\" (%d)\n", args.key.c_str(),
                 args.section.c_str(), rc);
    return 1;
  }
  return 0;
}

void printValue(void*, const wchar_t* key, const wchar_t* text, int32_t number) {
  if (text != nullptr) {
    std::printf("%s = %s\n", utf8(key).c_str(), utf8(text).c_str());
  } else {
    std::printf("%s = %d\n", utf8(key).c_str(), number);
  }
}

int runList(const ConfigArgs& args) {
  const TQStringW section = wideArgument("SECTION", args.section);
  const auto config = openStore();
  if (!config) return kStoreUnusable;
  // One snapshot, so that the values and the section names agree with each other.
  config->beginSnapshot();
  int rc = config->enumValues(section.c_str(), printValue, nullptr);
  uint32_t count = 0, size = 0;
  std::vector<wchar_t> names;
  if (rc == 0 && config->listSections(section.c_str(), nullptr, &count, &size, 0) == kTQConfigMoreData) {
    names.resize(size);
    rc = config->listSections(section.c_str(), names.data(), &count, &size, 0);
    for (const wchar_t* name = names.data(); rc == 0 && *name != L'\0'; name += wcslen(name) + 1) {
      std::printf("%s/\n", utf8(name).c_str());
    }
  }
  config->endSnapshot();
  if (rc != 0) {
    std::fprintf(stderr, "kiv config list: could not read section \"%s\" (%d)\n", args.section.c_str(), rc);
    return 1;
  }
  return 0;
}

}  // namespace

void addConfigCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<ConfigArgs>();
  CLI::App* config = app.add_subcommand("config", "Read and write the configuration store");
  config->require_subcommand(1);

  CLI::App* get = config->add_subcommand("get", "Print one value; exit 1 when it is missing");
  get->add_option("SECTION", args->section, "Section, \"/\"-separated (letter case does not matter)")->required();
  get->add_option("KEY", args->key, "Key (letter case does not matter)")->required();
  get->callback([&exitCode, args] { exitCode = runGet(*args); });

  CLI::App* set = config->add_subcommand(
      "set",
      "Write one value. VALUE is stored as the text given, exactly, unless --number is given");
  set->add_option("SECTION", args->section, "Section, \"/\"-separated")->required();
  set->add_option("KEY", args->key, "Key")->required();
  set->add_option("VALUE", args->value, "Value")->required();
  auto* asNumber = set->add_flag(
      "--number", args->asNumber,
      "Store VALUE as a number: a decimal integer that fits 32 bits, or a 0x-hexadecimal one up "
      "to 0xffffffff (kept as that 32-bit pattern, so 0xffffffff reads back as -1)");
  // Text is what is stored anyway; the flag stays for scripts written when it was needed.
  set->add_flag("--string")->description("Store VALUE as text (the default)")->excludes(asNumber);
  set->callback([&exitCode, args] { exitCode = runSet(*args); });

  CLI::App* list = config->add_subcommand(
      "list", "Print the values of a section as \"key = value\" lines, then its direct child sections, "
              "each followed by \"/\"");
  list->add_option("SECTION", args->section, "Section, \"/\"-separated")->required();
  list->callback([&exitCode, args] { exitCode = runList(*args); });
}

}  // namespace kiv::tool
