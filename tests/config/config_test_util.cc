// Helpers for configuration store tests.
#include "config/config_test_util.h"

#include "support/kiv_test.h"
#include "support/run_self.h"
#include "tqUtilities.h"

namespace configtest {

Config::Config() { TQUtilities_GetConfigEx(&config_, -1); }

Config::~Config() {
  if (config_ != nullptr) config_->Release();
}

std::optional<std::wstring> text(ITQConfig* config, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[4096];
  uint32_t size = 4096;
  if (config->getStringW(section, key, buffer, &size, 0) != 0) return std::nullopt;
  return std::wstring(buffer, size);
}

std::optional<int32_t> number(ITQConfig* config, const wchar_t* section, const wchar_t* key) {
  int32_t value = 0;
  if (config->getNumber(section, key, &value, 0) != 0) return std::nullopt;
  return value;
}

std::vector<std::wstring> sections(ITQConfig* config, const wchar_t* section) {
  uint32_t count = 0, size = 0;
  if (config->listSections(section, nullptr, &count, &size, 0) != kTQConfigMoreData) return {};
  std::vector<wchar_t> buffer(size);
  if (config->listSections(section, buffer.data(), &count, &size, 0) != 0) return {};
  std::vector<std::wstring> names;
  for (const wchar_t* name = buffer.data(); *name != L'\0'; name += names.back().size() + 1) {
    names.emplace_back(name);
  }
  return names;
}

int kiv(const std::string& arguments, std::string* output) {
  const int status = kivtest::runLine(kivtest::programBeside("kiv") + " " + arguments + " 2>&1", output);
  // Windows ends the program's text lines with CR LF; the tests compare lines.
  if (output != nullptr) std::erase(*output, '\r');
  return status;
}

}  // namespace configtest
