// The runtime's framework library (KxApi_VC) as the module calls it: initial values, online-change
// moves, retained data, the version check, byte copy, the standard timers and the 64-bit TIME
// helpers. cdecl, plain names; 64-bit values travel as two 32-bit words, low word first.
#pragma once

#include "abi/kx_types.h"

#if defined(KXAPI_BUILDING)
#define KXAPI_API KX_DLL_EXPORT
#else
#define KXAPI_API KX_DLL_IMPORT
#endif

struct EntryPointDescriptor;

extern "C" {
KXAPI_API int32_t KX_CDECL KX_fr_init2(const uint8_t* table, uint8_t* dataArea, uint32_t flag,
                                       uint64_t initArg);
KXAPI_API int32_t KX_CDECL KX_fr_move(const uint8_t* moveTable, const uint8_t* oldDataArea,
                                      uint8_t* newDataArea);
KXAPI_API int32_t KX_CDECL KX_fr_mapAddress(const uint8_t* moveTable, uint32_t oldOffset,
                                            uint32_t* newOffset);
KXAPI_API uint32_t KX_CDECL KX_fr_QueryRetainedDataSize(uint32_t retainDescriptor);
KXAPI_API uint32_t KX_CDECL KX_fr_GetRetainedData(uint32_t retainDescriptor, const uint8_t* dataArea,
                                                  uint8_t* buffer);
KXAPI_API uint32_t KX_CDECL KX_fr_SetRetainedData(uint32_t retainDescriptor, uint8_t* dataArea,
                                                  const uint8_t* buffer);
KXAPI_API int32_t KX_CDECL KX_fs_doesTargetVersionMatch(uint32_t selector, uint32_t target,
                                                        uint32_t a, uint32_t b);
KXAPI_API void* KX_CDECL kx_memcpy(void* destination, const void* source, uint32_t size);

KXAPI_API void KX_CDECL KX_fv_TON(TimerRecord* timer, EntryPointDescriptor* descriptor);
KXAPI_API void KX_CDECL KX_fv_TOF(TimerRecord* timer, EntryPointDescriptor* descriptor);

KXAPI_API KX_TIME KX_CDECL kxtQwCnvUlL2SQw(uint32_t low, int32_t high);
KXAPI_API KX_TIME KX_CDECL kxtQwCnvUl2SQw(uint32_t value);
KXAPI_API KX_TIME KX_CDECL kxtQwMulQwUl(KX_TIME a, uint32_t b);
KXAPI_API KX_TIME KX_CDECL kxtQwDivQwL(KX_TIME a, int32_t b);
KXAPI_API KX_TIME KX_CDECL kxtQwSubQwQw(KX_TIME a, KX_TIME b);
KXAPI_API const double* KX_CDECL kxtQwCnvSQw2DPtr(KX_TIME value);

KXAPI_API void KX_CDECL rtc_diag_timefunc(void);
}
