// The free functions of the tqUtilities library: tracing, configuration and terminal
// services access, install directory, time, the component factory and porting helpers.
#pragma once

#include "TQTypes.h"

struct ITQImpl;
struct ITQTrace;
struct ITQConfig;
struct TQOSTerminalServices;

extern "C" {

// ---- Tracing. Sources are "tqNotify", "AGUNIT" or null. Levels: 0 always, 1 errors,
// 2 ignored input, 3 events and state changes, 4 fine detail; a levelled line is written
// when the configured level (KIV_TRACE_LEVEL) reaches it. Unlevelled, error and detail
// lines are always written.
TQ_API void TQUtilities_TraceW(const wchar_t* source, const wchar_t* fmt, ...);
TQ_API void TQUtilities_TraceExW(const wchar_t* source, int level, const wchar_t* fmt, ...);
TQ_API void TQUtilities_TraceErrorW(const wchar_t* source, const wchar_t* fmt, ...);
TQ_API void TQUtilities_TraceDetailW(int reserved, const wchar_t* fmt, ...);
// Writes message and detail with the calling thread's last system error (errno).
TQ_API void TQUtilities_TraceLastSystemErrorW(const wchar_t* source, const wchar_t* message,
                                              const wchar_t* detail, int reserved);
TQ_API void TQUtilities_TraceFuncEntryW(const wchar_t* function);
TQ_API int TQUtilities_TraceFuncExitIntW(const wchar_t* function, int result);
// The configured trace level, for the trace object's level entry.
TQ_API int TQUtilities_GetTraceLevel();
// Writes every pending trace line to its sinks.
TQ_API void TQUtilities_FlushTrace();

// ---- Components handed out by tqUtilities. Each fills *out with a new reference, or
// leaves it null.
TQ_API void TQUtilities_GetTracerEx(ITQTrace** out, int version);
TQ_API void TQUtilities_GetConfigEx(ITQConfig** out, int version);
TQ_API void TQUtilities_GetOSTerminalServicesEx(TQOSTerminalServices** out, int version);

// Writes KIV_HOME (created with mode 0711 when missing); nonzero on success.
TQ_API int TQUtilities_GetInstallDirA(char* buffer, unsigned capacity);
// Writes the file-name part of source into destination; both may be the same buffer.
TQ_API int TQUtilities_GetRootFileNameFromPathW(const wchar_t* source, wchar_t* destination,
                                                unsigned capacity);
TQ_API uint32_t TQUtilities_GetTickCount();
TQ_API void TQUtilities_Sleep(uint32_t milliseconds);

// ---- Component factory. Module "X" is libX.so on KIV_MODULE_PATH, then beside
// libtqUtilities.so.
TQ_API unsigned char TQFactory_GetMaxDebug();
// Loads (or counts one more load of) a module; calls its TQInit on the first load.
TQ_API HTQMODULE TQFactory_LoadExW(const wchar_t* module, int flags);
// Counts one more load of a module that is already loaded (components use it for every
// object they hand out, so that its last release can unload once).
TQ_API HTQMODULE TQFactory_AddRefModule(HTQMODULE module);
TQ_API ITQImpl* TQFactory_CreateInstanceExW(HTQMODULE module, const char* className,
                                            int version, const wchar_t* caller, int flags);
TQ_API void TQFactory_Unload(HTQMODULE module);
TQ_API void* TQFactory_GetProcAddress(HTQMODULE module, const char* name);
TQ_API int TQFactory_IncInstCount(HTQMODULE module);
TQ_API int TQFactory_DecInstCount(HTQMODULE module);
TQ_API int TQFactory_GetInstCount(HTQMODULE module);
TQ_API void TQFactory_DisplayError(const wchar_t* moduleFileName, const wchar_t* message);

// ---- Porting helpers.
struct TQ_CRITICAL_SECTION {
  alignas(8) unsigned char storage[64];
};
TQ_API void TQPorting_InitializeCriticalSection(TQ_CRITICAL_SECTION* section);
TQ_API void TQPorting_EnterCriticalSection(TQ_CRITICAL_SECTION* section);
TQ_API void TQPorting_LeaveCriticalSection(TQ_CRITICAL_SECTION* section);
TQ_API void TQPorting_DeleteCriticalSection(TQ_CRITICAL_SECTION* section);
// Full path of a module (null: the process's executable); characters written, 0 on failure.
TQ_API unsigned TQPorting_GetModuleFileNameW(HTQMODULE module, wchar_t* buffer,
                                             unsigned capacity);
TQ_API int TQPorting_IsValidStringW(const wchar_t* text);
TQ_API int tq_access(const char* path, int mode);
TQ_API int tq_waccess(const wchar_t* path, int mode);
TQ_API int tq_mkdir(const char* path, int mode);
TQ_API int tq_wmkdir(const wchar_t* path, int mode);

}  // extern "C"

// Signature of the exports every loadable module provides.
using TQInitFn = int (*)(HTQMODULE);
using TQTerminateFn = int (*)();
using TQCreateInstanceFn = ITQImpl* (*)(const char* className, int version);
