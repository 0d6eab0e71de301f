// Owning wrappers for Win32 handles of every kind (kernel objects, sockets, libraries,
// memory from an allocator), each closed with the call that belongs to it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace kiv::platform::win {

// Traits: `type`, the empty value, whether a value is a live handle, and how to close it.
template <typename Traits>
class Unique {
 public:
  using type = typename Traits::type;

  Unique() = default;
  explicit Unique(type value) : value_(Traits::valid(value) ? value : Traits::empty()) {}
  ~Unique() { reset(); }
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;

  type get() const { return value_; }
  explicit operator bool() const { return Traits::valid(value_); }
  type release() { return std::exchange(value_, Traits::empty()); }
  void reset(type value = Traits::empty()) {
    const type old = std::exchange(value_, Traits::valid(value) ? value : Traits::empty());
    // Closing must not disturb the error a failed call just left for the caller.
    if (Traits::valid(old)) {
      const DWORD saved = GetLastError();
      Traits::close(old);
      SetLastError(saved);
    }
  }

 private:
  type value_ = Traits::empty();
};

// Kernel objects: some calls answer null on failure, others INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
  using type = HANDLE;
  static type empty() { return nullptr; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { CloseHandle(h); }
};
using UniqueHandle = Unique<KernelHandleTraits>;

struct SocketTraits {
  using type = SOCKET;
  static type empty() { return INVALID_SOCKET; }
  static bool valid(type s) { return s != INVALID_SOCKET; }
  static void close(type s) { closesocket(s); }
};
using UniqueSocket = Unique<SocketTraits>;

struct LibraryTraits {
  using type = HMODULE;
  static type empty() { return nullptr; }
  static bool valid(type m) { return m != nullptr; }
  static void close(type m) { FreeLibrary(m); }
};
using UniqueLibrary = Unique<LibraryTraits>;

struct RegistryKeyTraits {
  using type = HKEY;
  static type empty() { return nullptr; }
  static bool valid(type k) { return k != nullptr; }
  static void close(type k) { RegCloseKey(k); }
};
using UniqueRegistryKey = Unique<RegistryKeyTraits>;

// Memory the system allocated for the caller with LocalAlloc (security descriptors, SID
// texts, formatted messages).
struct LocalMemoryTraits {
  using type = void*;
  static type empty() { return nullptr; }
  static bool valid(type p) { return p != nullptr; }
  static void close(type p) { LocalFree(p); }
};
using UniqueLocal = Unique<LocalMemoryTraits>;

// A kernel handle travels through the waitable-handle descriptor slot as its low 32 bits:
// Windows keeps kernel handles within that range so that 32- and 64-bit processes can
// share them. No handle is -1.
inline int toWaitSlot(HANDLE h) { return KernelHandleTraits::valid(h) ? HandleToLong(h) : -1; }
inline HANDLE fromWaitSlot(int slot) { return slot >= 0 ? LongToHandle(slot) : nullptr; }

// Looks up an entry point in a loaded library and gives it the expected type.
template <typename Function>
Function procAddress(HMODULE library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace kiv::platform::win
