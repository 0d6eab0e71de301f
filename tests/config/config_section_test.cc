// Reading a whole section at once: the answers match single-value reads, and the values
// come from one view of the store that later reads notice has changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>

#include "config/config_test_util.h"

using configtest::Config;

namespace {

// One reference to a section read, released at the end of the scope.
class Section {
 public:
  Section(ITQConfig* config, const wchar_t* name) : rc_(config->readSection(name, &section_, 0)) {}
  ~Section() {
    if (section_ != nullptr) section_->Release();
  }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  int rc() const { return rc_; }
  ITQConfigSection* operator->() const { return section_; }
  ITQConfigSection* get() const { return section_; }

  std::optional<std::wstring> text(const wchar_t* key) const {
    wchar_t buffer[64];
    uint32_t size = 64;
    if (section_->getStringW(key, buffer, &size) != 0) return std::nullopt;
    return std::wstring(buffer, size);
  }
  std::optional<int32_t> number(const wchar_t* key) const {
    int32_t value = 0;
    if (section_->getNumber(key, &value) != 0) return std::nullopt;
    return value;
  }

 private:
  ITQConfigSection* section_ = nullptr;
  int rc_;
};

TEST(ConfigSection, AnswersAsSingleReadsDo) {
  Config config;
  const wchar_t* name = L"dlox/agent/units/Read-Alike";
  ASSERT_EQ(config->setStringW(name, L"uri", L"kiv://a", 0), 0);
  ASSERT_EQ(config->setStringW(name, L"empty", L"", 0), 0);
  ASSERT_EQ(config->setStringW(name, L"hex", L"0x1f", 0), 0);
  ASSERT_EQ(config->setStringW(name, L"words", L"12 apples", 0), 0);
  ASSERT_EQ(config->setNumber(name, L"count", -42, 0), 0);
  ASSERT_EQ(config->setStringW(L"dlox/agent/units/read-alike/deeper", L"uri", L"kiv://deeper", 0), 0);

  // Any spelling of the section and the key names the same values.
  Section section(config.get(), L"DLOX/agent/units/read-ALIKE");
  ASSERT_EQ(section.rc(), 0);
  EXPECT_EQ(section.text(L"URI"), L"kiv://a");
  EXPECT_EQ(section.text(L"Count"), L"-42");
  EXPECT_EQ(section.number(L"hex"), 31);

  // An empty text is a value; a missing one is not, and leaves the caller's buffer alone.
  EXPECT_EQ(section.text(L"empty"), L"");
  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  uint32_t size = 8;
  EXPECT_EQ(section->getStringW(L"missing", buffer, &size), kTQConfigNotFound);
  EXPECT_EQ(buffer[0], L'#');

  // Text that is not a whole number does not read as one, and the target is kept.
  int32_t value = 99;
  EXPECT_EQ(section->getNumber(L"words", &value), kTQConfigNotFound);
  EXPECT_EQ(value, 99);

  // A buffer without room for the NUL is answered with the size needed.
  size = 7;
  EXPECT_EQ(section->getStringW(L"uri", buffer, &size), kTQConfigMoreData);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(buffer[0], L'#');

  // The values of a section below are not the section's own.
  EXPECT_EQ(section.text(L"uri"), L"kiv://a");
  EXPECT_EQ(section->getStringW(nullptr, buffer, &size), kTQConfigNotFound);
}

TEST(ConfigSection, SectionWithoutValuesIsNotFound) {
  Config config;
  ASSERT_EQ(config->setStringW(L"parent/child/leaf", L"k", L"v", 0), 0);
  // A stale value in the out slot must be cleared, not left for the caller to release.
  ITQConfigSection* section = reinterpret_cast<ITQConfigSection*>(uintptr_t{1});
  EXPECT_EQ(config->readSection(L"parent/child", &section, 0), kTQConfigNotFound);
  EXPECT_EQ(section, nullptr);
  EXPECT_EQ(config->readSection(L"never/written", &section, 0), kTQConfigNotFound);
  EXPECT_EQ(section, nullptr);
  EXPECT_EQ(config->readSection(nullptr, &section, 0), kTQConfigNotFound);
  EXPECT_EQ(config->readSection(L"parent", nullptr, 0), kTQConfigNotFound);

  // Inside a snapshot, sections are read together with their siblings; a missing one is
  // still reported as missing and a present one still found.
  ASSERT_EQ(config->beginSnapshot(), 0);
  EXPECT_EQ(config->readSection(L"parent/child/other", &section, 0), kTQConfigNotFound);
  Section leaf(config.get(), L"parent/child/LEAF");
  ASSERT_EQ(leaf.rc(), 0);
  EXPECT_EQ(leaf.text(L"k"), L"v");
  ASSERT_EQ(config->endSnapshot(), 0);
}

TEST(ConfigSection, KeepsItsViewAndLaterReadsSeeOtherWriters) {
  Config config;
  const wchar_t* name = L"views/unit";
  ASSERT_EQ(config->setStringW(name, L"state", L"first", 0), 0);
  Section before(config.get(), name);
  ASSERT_EQ(before.rc(), 0);

  // Another thread has its own connection to the store: its write is a write by another
  // connection, which this thread's memory of the section must not hide.
  std::thread writer([name] {
    Config other;
    ASSERT_EQ(other->setStringW(name, L"state", L"second", 0), 0);
    ASSERT_EQ(other->setNumber(name, L"added", 7, 0), 0);
  });
  writer.join();

  EXPECT_EQ(before.text(L"state"), L"first");
  EXPECT_EQ(before.number(L"added"), std::nullopt);
  Section after(config.get(), name);
  ASSERT_EQ(after.rc(), 0);
  EXPECT_EQ(after.text(L"state"), L"second");
  EXPECT_EQ(after.number(L"added"), 7);

  // This thread's own write is seen as well, and does not change a read already made.
  ASSERT_EQ(config->setStringW(name, L"state", L"third", 0), 0);
  EXPECT_EQ(after.text(L"state"), L"second");
  EXPECT_EQ(Section(config.get(), name).text(L"state"), L"third");
}

}  // namespace
