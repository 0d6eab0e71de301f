// `kiv registry query KEY [VALUE] [--json]`: shows a registry key's values with their types
// and data, then its subkeys, laid out as Windows' `reg query` lays them out, so that an
// operator can read what the logon registration wrote.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <optional>
#include <ranges>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/utf8.h"
#include "tools/kiv/commands.h"
#include "tools/kiv/text_output.h"
#ifdef _WIN32
#include "tools/kiv/win/service_manage.h"
#endif

namespace kiv::tool {
namespace {

using namespace kiv::platform;

constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

struct RegistryArgs {
  std::string key;
  std::optional<std::string> value;
  bool json = false;
};

struct Value {
  std::string name, type;
  std::string text;       // the data as `reg query` prints it
  std::string jsonData;   // the data as a JSON value
};

// Closes the key when it goes out of scope.
struct KeyCloser {
  void operator()(RegistryKey* key) const { RegCloseKey(key); }
};
using OpenKey = std::unique_ptr<RegistryKey, KeyCloser>;

// The path below HKEY_LOCAL_MACHINE, or nothing when KEY names another root.
std::optional<std::string> pathBelowRoot(const std::string& key) {
  for (const char* root : {kRootName, "HKLM"}) {
    const std::size_t length = std::strlen(root);
    if (key.size() < length) continue;
    bool same = true;
    for (std::size_t i = 0; i < length; ++i) same = same && std::toupper(static_cast<unsigned char>(key[i])) == root[i];
    if (!same) continue;
    if (key.size() == length) return std::string();
    if (key[length] == '\\') return key.substr(length + 1);
  }
  return std::nullopt;
}

std::string typeName(uint32_t type) {
  switch (type) {
    case 0: return "REG_NONE";
    case kRegSz: return "REG_SZ";
    case kRegExpandSz: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case kRegDword: return "REG_DWORD";
    case 7: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return "REG_" + std::to_string(type);
  }
}

// A printed value stays on its line: text with control characters is shown quoted.
std::string oneLine(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return quoted(text);
  }
  return text;
}

std::optional<Value> readValue(HKEY key, const std::wstring& name) {
  uint32_t type = 0, size = 0;
  if (RegQueryValueExW(key, name.c_str(), &type, nullptr, &size) != kErrorSuccess) return std::nullopt;
  std::vector<unsigned char> data(size + sizeof(wchar_t), 0);
  if (RegQueryValueExW(key, name.c_str(), &type, data.data(), &size) != kErrorSuccess) return std::nullopt;
  Value value{utf::narrow(name), typeName(type), {}, {}};
  if (type == kRegSz || type == kRegExpandSz) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    value.text = oneLine(utf::narrow(text));
    value.jsonData = quoted(utf::narrow(text));
  } else if (type == kRegDword && size == 4) {
    uint32_t number = 0;
    std::memcpy(&number, data.data(), 4);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", number);
    value.text = hex;
    value.jsonData = std::to_string(number);
  } else {
    for (uint32_t i = 0; i < size; ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, "%02X", data[i]);
      value.text += byte;
    }
    value.jsonData = "\"" + value.text + "\"";
  }
  return value;
}

// Enumerates names with one of the registry's enumeration functions.
template <class Enumerate>
std::vector<std::wstring> names(HKEY key, Enumerate enumerate) {
  std::vector<std::wstring> found;
  std::vector<wchar_t> buffer(256);
  for (uint32_t index = 0;;) {
    auto length = static_cast<uint32_t>(buffer.size());
    const long status = enumerate(key, index, buffer.data(), &length);
    if (status == kErrorMoreData) {
      buffer.resize(length);
      continue;
    }
    if (status != kErrorSuccess) return found;
    found.emplace_back(buffer.data(), length);
    ++index;
  }
}

// The value's name as it was written, which the lookup matched without regard to case.
std::wstring storedName(HKEY key, const std::wstring& asked) {
  const auto same = [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); };
  for (const auto& name : names(key, RegEnumValueW)) {
    if (std::ranges::equal(name, asked, same)) return name;
  }
  return asked;
}

void printText(const std::string& shownKey, const std::vector<Value>& values,
               const std::vector<std::string>& subkeys, bool oneValue) {
  std::printf("\n%s\n", shownKey.c_str());
  for (const auto& value : values) {
    std::printf("    %s    %s    %s\n", value.name.empty() ? "(Default)" : oneLine(value.name).c_str(),
                value.type.c_str(), value.text.c_str());
  }
  if (oneValue) {
    std::printf("\n");
    return;
  }
  if (!values.empty()) std::printf("\n");
  for (const auto& subkey : subkeys) std::printf("%s\\%s\n", shownKey.c_str(), oneLine(subkey).c_str());
}

void printJson(const std::string& shownKey, const std::vector<Value>& values,
               const std::vector<std::string>& subkeys, bool oneValue) {
  std::string out = "{\"key\":" + quoted(shownKey) + ",\"values\":[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += (i ? "," : "") + std::string("{\"name\":") + quoted(values[i].name) + ",\"type\":\"" +
           values[i].type + "\",\"data\":" + values[i].jsonData + "}";
  }
  out += "]";
  if (!oneValue) {
    out += ",\"subkeys\":[";
    for (std::size_t i = 0; i < subkeys.size(); ++i) out += (i ? "," : "") + quoted(subkeys[i]);
    out += "]";
  }
  std::printf("%s}\n", out.c_str());
}

int notFound() {
  std::fprintf(stderr, "ERROR: The system was unable to find the specified registry key or value.\n");
  return 1;
}

int runQuery(const RegistryArgs& args) {
  const auto path = pathBelowRoot(args.key);
  if (!path) {
    std::fprintf(stderr, "kiv registry query: KEY must start with HKLM or HKEY_LOCAL_MACHINE: %s\n",
                 args.key.c_str());
    return 2;
  }
  HKEY raw = nullptr;
  if (RegOpenKeyExA(kHKeyLocalMachine, path->c_str(), kKeyRead, &raw) != kErrorSuccess) return notFound();
  OpenKey key(raw);

  std::string shownKey = kRootName;
  std::vector<Value> values;
  std::vector<std::string> subkeys;
  for (const auto& level : *path | std::views::split('\\')) {
    if (!std::ranges::empty(level)) shownKey += "\\" + std::string(level.begin(), level.end());
  }
  if (args.value) {
    auto value = readValue(key.get(), storedName(key.get(), utf::widen(*args.value)));
    if (!value) return notFound();
    values.push_back(std::move(*value));
  } else {
    for (const auto& name : names(key.get(), RegEnumValueW)) {
      if (auto value = readValue(key.get(), name)) values.push_back(std::move(*value));
    }
    for (const auto& name : names(key.get(), RegEnumKeyW)) subkeys.push_back(utf::narrow(name));
  }
  (args.json ? printJson : printText)(shownKey, values, subkeys, args.value.has_value());
  return 0;
}

}  // namespace

void addRegistryCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<RegistryArgs>();
  CLI::App* registry = app.add_subcommand("registry", "Show what the registry store holds");
  registry->require_subcommand(1);
  CLI::App* query = registry->add_subcommand(
      "query", "Print a key's values (name, type, data) and then its subkeys, as reg query does; "
               "exit 1 when the key or value does not exist");
  query->add_option("KEY", args->key, "Key path below HKLM or HKEY_LOCAL_MACHINE, levels separated by \\")
      ->required();
  query->add_option("VALUE", args->value, "Show only this value (\"\" for the default value)");
  query->add_flag("--json", args->json, "Print one JSON object with the key, its values and subkeys");
  query->callback([&exitCode, args] { exitCode = runQuery(*args); });
#ifdef _WIN32
  // The installer's step before it removes the files the entries point at.
  registry->add_subcommand("unregister", "Remove the plug-in's logon notification entries")
      ->callback([&exitCode] { exitCode = unregisterNotifications("kiv registry unregister"); });
#endif
}

}  // namespace kiv::tool
