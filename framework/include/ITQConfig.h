// The configuration object: typed values in "/"-separated sections, section and key names
// compared without regard to case.
#pragma once

#include <cstdint>

#include "ITQImpl.h"

// Answers of the configuration object besides 0 (success).
constexpr int kTQConfigNotFound = 2;
constexpr int kTQConfigMoreData = 8;  // a buffer of the reported size is needed
constexpr int kTQConfigUnavailable = 31;

// The values of one section read at once: the same answers as the configuration object's
// reads of that section (names without regard to case, numbers read as text and text as
// numbers, "not found" for a missing value, an empty text read as such), taken from one
// consistent view of the store and kept in memory for the life of the object.
struct ITQConfigSection : ITQImpl {
  virtual int getStringW(const wchar_t* key, wchar_t* buffer, uint32_t* size) = 0;
  virtual int getNumber(const wchar_t* key, int32_t* value) = 0;
};

struct ITQConfig : ITQImpl {
  virtual int prepare(int a, int b) = 0;
  // Names of the sections directly below `section`. Without a buffer: *count and *size
  // (characters, names NUL-separated plus a final empty name) are reported and the answer
  // is 8 when there is something to fetch. With a buffer of *size characters: 0.
  virtual int listSections(const wchar_t* section, wchar_t* buffer, uint32_t* count,
                           uint32_t* size, int flags) = 0;
  // *size holds the capacity on entry and the characters written (without NUL) on exit.
  virtual int getStringW(const wchar_t* section, const wchar_t* key, wchar_t* buffer,
                         uint32_t* size, int flags) = 0;
  virtual int getStringA(const char* section, const char* key, char* buffer, uint32_t* size,
                         int flags) = 0;
  virtual int getNumber(const wchar_t* section, const wchar_t* key, int32_t* value,
                        int flags) = 0;
  virtual int setStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                         int flags) = 0;
  virtual int setNumber(const wchar_t* section, const wchar_t* key, int32_t value,
                        int flags) = 0;
  // Holds one consistent view of the store until endSnapshot, so that a long series of
  // reads (an enumeration) can be served from memory without rechecking for other writers.
  virtual int beginSnapshot() = 0;
  virtual int endSnapshot() = 0;
  // Calls visit for every value of `section` (text null for numbers), in key order.
  using ValueVisitor = void (*)(void* context, const wchar_t* key, const wchar_t* text,
                                int32_t number);
  virtual int enumValues(const wchar_t* section, ValueVisitor visit, void* context) = 0;
  // Reads every value of `section` with one look at the store, for callers that need
  // several values of one section. 0 with *values filled; "not found" with *values null
  // when the section holds no value.
  virtual int readSection(const wchar_t* section, ITQConfigSection** values, int flags) = 0;
};
