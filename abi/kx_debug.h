// The runtime's debug library (KXoplcK_VC) as the module calls it: breakpoint hooks and the
// per-cycle error information. stdcall; on Windows the names carry a leading underscore
// (imported as _KXoplck_EnterBreakpointImpl@16 and so on), on Linux they are plain.
#pragma once

#include "abi/kx_types.h"

#if defined(KXOPLCK_BUILDING)
#define KXOPLCK_API KX_DLL_EXPORT
#else
#define KXOPLCK_API KX_DLL_IMPORT
#endif

#if defined(_WIN32)
#define KXOPLCK_NAME(name) _##name
#else
#define KXOPLCK_NAME(name) name
#endif

// The names the code uses; they expand to the platform's symbol.
#define KXoplck_EnterBreakpoint KXOPLCK_NAME(KXoplck_EnterBreakpointImpl)
#define KXoplck_ExitBreakpoint KXOPLCK_NAME(KXoplck_ExitBreakpointImpl)
#define KXoplck_clrErrorInfo KXOPLCK_NAME(KXoplck_clrCEPErrorInfo)
#define KXoplck_setErrorInfo KXOPLCK_NAME(KXoplck_setCEPErrorInfo)
#define KXoplck_getErrorInfo KXOPLCK_NAME(KXoplck_getCEPErrorInfo)

struct EntryPointDescriptor;

// Event kinds of EnterBreakpoint.
#define KX_EVENT_STEP 1    // the caller is about to evaluate a block
#define KX_EVENT_ENTRY 6   // a block's own computation begins; closed by ExitBreakpoint

// The only error code the module itself records: a REAL division by zero (detail 0).
#define KX_ERROR_REAL_DIV_BY_ZERO 140

extern "C" {
KXOPLCK_API int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t typeId, void* address, int32_t kind,
                                                       EntryPointDescriptor* descriptor);
KXOPLCK_API int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor* descriptor);
KXOPLCK_API void KX_STDCALL KXoplck_clrErrorInfo(void);
KXOPLCK_API void KX_STDCALL KXoplck_setErrorInfo(int32_t code, int32_t detail);
KXOPLCK_API int32_t KX_STDCALL KXoplck_getErrorInfo(void);
}
