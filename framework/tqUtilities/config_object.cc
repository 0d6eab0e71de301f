// The configuration object handed out by TQUtilities_GetConfigEx. It holds no connection
// of its own: every call goes to the calling thread's store, so objects are cheap to
// obtain and may be passed between threads.
//
// Values are typed. A number read as a string gives its decimal text; a string read as a
// number must be a whole decimal or 0x-hexadecimal 32-bit integer, or the read answers
// "not found". String reads need room for the text and its NUL; when the buffer is too
// small (or null) the answer is "more data" with the needed capacity, NUL included, and
// the buffer is left as it was. A null name, value or size pointer is answered "not
// found" and nothing is read or written.
#include <atomic>
#include <memory>
#include <string>

#include "ITQConfig.h"
#include "framework/tqUtilities/code_page.h"
#include "framework/tqUtilities/config_section.h"
#include "framework/tqUtilities/config_store.h"
#include "framework/tqUtilities/config_text.h"
#include "framework/tqUtilities/config_value_reads.h"
#include "tqUtilities.h"

namespace kiv::config {
namespace {

// The highest interface version this object implements.
constexpr int kConfigVersion = 2;

// One section's values, read at once and then answered from memory. Lookups do not change
// the object, so threads may share it.
class ConfigSectionObject final : public ITQConfigSection {
 public:
  void AddRef() override { references_.fetch_add(1, std::memory_order_relaxed); }
  int Release() override {
    const int left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  int CheckVersion(int required) override { return required == -1 || required == 1; }
  HTQMODULE GetLibraryHandle() override { return nullptr; }

  int getStringW(const wchar_t* key, wchar_t* buffer, uint32_t* size) override {
    ValueView value;
    if (const int rc = find(key, size, &value); rc != 0) return rc;
    return readStringW(value, buffer, size);
  }

  int getNumber(const wchar_t* key, int32_t* number) override {
    ValueView value;
    if (const int rc = find(key, number, &value); rc != 0) return rc;
    return readNumber(value, number);
  }

  SectionValues& values() { return values_; }

 private:
  template <class Out>
  int find(const wchar_t* key, Out* out, ValueView* value) const {
    if (key == nullptr || out == nullptr) return kTQConfigNotFound;
    return values_.find(key, value) ? 0 : kTQConfigNotFound;
  }

  SectionValues values_;
  std::atomic<int> references_{1};
};

class ConfigObject final : public ITQConfig {
 public:
  void AddRef() override { references_.fetch_add(1, std::memory_order_relaxed); }
  int Release() override {
    const int left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  int CheckVersion(int required) override { return required == -1 || (required >= 1 && required <= kConfigVersion); }
  HTQMODULE GetLibraryHandle() override { return nullptr; }

  int prepare(int, int) override { return ConfigStore::forThisThread() != nullptr ? 0 : kTQConfigUnavailable; }

  int listSections(const wchar_t* section, wchar_t* buffer, uint32_t* count, uint32_t* size, int) override {
    if (section == nullptr || count == nullptr || size == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    if (store == nullptr) return kTQConfigUnavailable;
    const std::vector<std::wstring>* listed = nullptr;
    if (const int rc = store->listSections(section, &listed); rc != 0) return rc;
    const std::vector<std::wstring>& names = *listed;
    std::size_t needed = 1;  // the closing empty name
    for (const auto& name : names) needed += name.size() + 1;
    const uint32_t capacity = *size;
    *count = static_cast<uint32_t>(names.size());
    *size = static_cast<uint32_t>(needed);
    if (buffer == nullptr) return names.empty() ? 0 : kTQConfigMoreData;
    if (capacity < needed) return kTQConfigMoreData;
    for (const auto& name : names) {
      buffer = std::copy(name.begin(), name.end(), buffer);
      *buffer++ = L'\0';
    }
    *buffer = L'\0';
    return 0;
  }

  int getStringW(const wchar_t* section, const wchar_t* key, wchar_t* buffer, uint32_t* size, int) override {
    ValueView value;
    if (const int rc = find(section, key, size, &value); rc != 0) return rc;
    return readStringW(value, buffer, size);
  }

  // Narrow text, names and value alike, is in the system's code page (UTF-8 on Linux, the
  // ANSI code page on Windows); the store keeps UTF-8.
  int getStringA(const char* section, const char* key, char* buffer, uint32_t* size, int) override {
    if (section == nullptr || key == nullptr) return kTQConfigNotFound;
    std::wstring wideSection, wideKey;
    kiv::codepage::toWide(section, wideSection);
    kiv::codepage::toWide(key, wideKey);
    ValueView value;
    if (const int rc = find(wideSection.c_str(), wideKey.c_str(), size, &value); rc != 0) return rc;
    std::string narrow;
    if (!value.isNumber) {
      kiv::codepage::toNarrow(toWide(value.text), narrow);
      value.text = narrow;
    }
    return readStringA(value, buffer, size);
  }

  int getNumber(const wchar_t* section, const wchar_t* key, int32_t* number, int) override {
    ValueView value;
    if (const int rc = find(section, key, number, &value); rc != 0) return rc;
    return readNumber(value, number);
  }

  int setStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value, int) override {
    if (section == nullptr || key == nullptr || value == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    return store == nullptr ? kTQConfigUnavailable : store->writeText(section, key, value);
  }

  int setNumber(const wchar_t* section, const wchar_t* key, int32_t value, int) override {
    if (section == nullptr || key == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    return store == nullptr ? kTQConfigUnavailable : store->writeNumber(section, key, value);
  }

  int beginSnapshot() override {
    ConfigStore* store = ConfigStore::forThisThread();
    return store == nullptr ? kTQConfigUnavailable : store->beginSnapshot();
  }

  int endSnapshot() override {
    ConfigStore* store = ConfigStore::forThisThread();
    return store == nullptr ? kTQConfigUnavailable : store->endSnapshot();
  }

  int enumValues(const wchar_t* section, ValueVisitor visit, void* context) override {
    if (section == nullptr || visit == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    if (store == nullptr) return kTQConfigUnavailable;
    return store->enumValues(section, [&](const std::wstring& key, const std::wstring* text, int32_t number) {
      visit(context, key.c_str(), text != nullptr ? text->c_str() : nullptr, number);
    });
  }

  int readSection(const wchar_t* section, ITQConfigSection** values, int) override {
    if (values == nullptr) return kTQConfigNotFound;
    *values = nullptr;
    if (section == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    if (store == nullptr) return kTQConfigUnavailable;
    std::unique_ptr<ConfigSectionObject> read(new ConfigSectionObject);
    if (const int rc = store->readSection(section, read->values()); rc != 0) return rc;
    *values = read.release();
    return 0;
  }

 private:
  template <class Out>
  static int find(const wchar_t* section, const wchar_t* key, Out* out, ValueView* value) {
    if (section == nullptr || key == nullptr || out == nullptr) return kTQConfigNotFound;
    ConfigStore* store = ConfigStore::forThisThread();
    if (store == nullptr) return kTQConfigUnavailable;
    return store->read(section, key, value);
  }

  std::atomic<int> references_{1};
};

}  // namespace
}  // namespace kiv::config

extern "C" TQ_API void TQUtilities_GetConfigEx(ITQConfig** out, int version) {
  if (out == nullptr) return;
  *out = nullptr;
  if (version != -1 && (version < 1 || version > kiv::config::kConfigVersion)) return;
  // The store is opened here, so that a caller never holds an object that cannot work.
  if (kiv::config::ConfigStore::forThisThread() == nullptr) return;
  *out = new kiv::config::ConfigObject;
}
