// Helpers for configuration store tests: an owned config object and short readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ITQConfig.h"

namespace configtest {

// One reference to the configuration object, released at the end of the scope.
class Config {
 public:
  Config();
  ~Config();
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
  ITQConfig* operator->() const { return config_; }
  ITQConfig* get() const { return config_; }

 private:
  ITQConfig* config_ = nullptr;
};

// The text of a value (numbers as decimal text), or nothing when it is missing.
std::optional<std::wstring> text(ITQConfig* config, const wchar_t* section, const wchar_t* key);
std::optional<int32_t> number(ITQConfig* config, const wchar_t* section, const wchar_t* key);
// The names below a section through the sizing and fetching calls.
std::vector<std::wstring> sections(ITQConfig* config, const wchar_t* section);

// Runs the kiv program with the given arguments (quoted with double quotes where needed,
// which both systems' command interpreters take); exit status.
int kiv(const std::string& arguments, std::string* output = nullptr);

}  // namespace configtest
