// Basic types shared by the framework SDK: module handles and export decoration.
#pragma once

#include <cstddef>
#include <cstdint>

// A loaded module as the factory knows it (the dlopen handle). Pointer-sized, unlike the
// 32-bit handles of the framework's original platform.
using HTQMODULE = void*;

// Marks what a library or module exports. Windows callers need no import marking: the
// linker resolves the calls through each DLL's import library.
#if defined(_WIN32)
#define TQ_API __declspec(dllexport)
#else
#define TQ_API __attribute__((visibility("default")))
#endif
