// TQptr holds one reference to a framework component together with the module it lives
// in, and unloads that module through the factory when it drops the last reference.
// It is move-only: every reference has exactly one owner.
#pragma once

#include <cstdint>
#include <utility>

#include "ITQImpl.h"
#include "tqUtilities.h"

template <class T>
class TQptr {
 public:
  TQptr() : detailTrace_(TQFactory_GetMaxDebug()) {}
  ~TQptr() { Release(); }

  TQptr(TQptr&& other) noexcept
      : module_(std::exchange(other.module_, nullptr)),
        pointer_(std::exchange(other.pointer_, nullptr)),
        detailTrace_(other.detailTrace_) {}
  TQptr& operator=(TQptr&& other) noexcept {
    if (this != &other) {
      Release();
      module_ = std::exchange(other.module_, nullptr);
      pointer_ = std::exchange(other.pointer_, nullptr);
      detailTrace_ = other.detailTrace_;
    }
    return *this;
  }
  TQptr(const TQptr&) = delete;
  TQptr& operator=(const TQptr&) = delete;

  // Creates a component by module name and class name; the interface version is fixed by
  // the form: 2 for thread control, terminal services and the tracer, 4 for the XML
  // parser, 1 for the session and process enumerators.
  bool CreateInstance(const wchar_t* file, const char* className, const wchar_t* caller = nullptr) {
    return create(file, className, caller, 2);
  }
  bool CreateInstanceV4(const wchar_t* file, const char* className, const wchar_t* caller = nullptr) {
    return create(file, className, caller, 4);
  }
  bool CreateInstanceV1(const wchar_t* file, const char* className, const wchar_t* caller = nullptr) {
    return create(file, className, caller, 1);
  }

  // 1 when a component was released, 0 when the pointer was empty.
  int Release() {
    if (pointer_ == nullptr) return 0;
    if (detailTrace_) TQUtilities_TraceDetailW(0, L"TQPtr::Release: 0x%lx", address(this));
    dropHeld();
    return 1;
  }

  // For functions that hand out an object through an out-parameter: drops what is held
  // and gives the address of the empty pointer field.
  T** fill() {
    Release();
    pointer_ = nullptr;
    module_ = nullptr;
    return &pointer_;
  }

  T* operator->() const {
    if (pointer_ == nullptr) TQUtilities_TraceErrorW(nullptr, L"TQptr::-> invalid ptr");
    return pointer_;
  }
  T* get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  HTQMODULE module() const { return module_; }

 private:
  // Traced with %lx, whose unsigned long is 32 bits on Windows: the low bits tell objects
  // apart well enough.
  static unsigned long address(const void* p) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p));
  }

  // Releases the held component, unloading its library when that was the last reference.
  void dropHeld() {
    if (pointer_ == nullptr) return;
    T* component = std::exchange(pointer_, nullptr);
    if (module_ == nullptr) module_ = component->GetLibraryHandle();
    if (component->Release() == 0) TQFactory_Unload(module_);
  }

  bool create(const wchar_t* file, const char* className, const wchar_t* caller, int version) {
    if (!TQPorting_IsValidStringW(file) || className == nullptr) {
      TQUtilities_TraceErrorW(nullptr, L"%s: bad args", L"TQptr::CreateInstance");
      return false;
    }
    if (detailTrace_) {
      TQUtilities_TraceDetailW(0, L"%s: file: %s progid: %hs version: %d %s %s",
                               L"TQptr::CreateInstance", file, className, version,
                               caller ? L"called by: " : L"", caller ? caller : L"");
    }
    // The component held so far goes like any last reference: its library load is given
    // back too, or the library could never be unloaded again.
    dropHeld();
    module_ = nullptr;
    detailTrace_ = TQFactory_GetMaxDebug();

    module_ = TQFactory_LoadExW(file, 1);
    if (module_ == nullptr) return false;
    pointer_ = static_cast<T*>(TQFactory_CreateInstanceExW(module_, className, version, caller, 1));
    if (pointer_ != nullptr) {
      HTQMODULE owner = pointer_->GetLibraryHandle();
      if (owner != module_) module_ = owner;
    } else {
      TQFactory_Unload(module_);  // nothing was created that could give this load back
    }
    if (detailTrace_) {
      TQUtilities_TraceDetailW(0, L"%s: file: %s progid: %hs ptr: 0x%lx",
                               L"TQptr::CreateInstance", file, className, address(pointer_));
    }
    return pointer_ != nullptr;
  }

  HTQMODULE module_ = nullptr;
  T* pointer_ = nullptr;
  unsigned char detailTrace_;
};
