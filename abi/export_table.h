// Every function a module of this kind exports, in one table for every loader (the host's and the
// tests'): X(member, function, argument bytes). A loader finds a stdcall export of 32-bit Windows
// under "function@bytes", elsewhere under its plain name.
#pragma once

#include "abi/exports.h"

// What a host needs to load, initialise and run a module and to read and write its variables.
#define KX_EXPORTS_RUN(X)                                          \
  X(simpleMain, KX_fr_SimpleMain, 8)                              \
  X(callInitFunc, KX_fr_CallInitFunc, 8)                          \
  X(queryEPCount, KXocc_queryEPCount, 0)                          \
  X(queryEP, KXocc_queryEP, 4)                                    \
  X(queryTASKCount, KXocc_queryTASKCount, 0)                      \
  X(queryTASK, KXocc_queryTASK, 4)                                \
  X(queryCFWVersion, KXocc_queryCFWVersion, 0)                    \
  X(queryTimeFreq, KXocc_queryTimeFreq, 0)                        \
  X(queryCVersion, KXocc_queryCVersion, 0)                        \
  X(queryCCRC, KXocc_queryCCRC, 0)                                \
  X(queryCInfoCount, KXocc_queryCInfoCount, 0)                    \
  X(queryCInfo, KXocc_queryCInfo, 4)                              \
  X(getDataPointer, KXocc_getDataPointer, 4)                      \
  X(getDataAddressOffset, KXocc_getDataAddressOffset, 8)          \
  X(getData, KXocc_getData, 12)                                   \
  X(setData, KXocc_setData, 12)                                   \
  X(queryRetainedDataSize, KX_fr_CallQueryRetainedDataSize, 4)    \
  X(getRetainedData, KX_fr_CallGetRetainedData, 8)                \
  X(setRetainedData, KX_fr_CallSetRetainedData, 8)

// What an online change asks of the new module.
#define KX_EXPORTS_ONLINE_CHANGE(X)                                \
  X(reInit, KX_fr_CallReInitFunc, 12)                             \
  X(isReloadPossible, KXocc_isReloadPossible, 12)                 \
  X(isLoadPossible, KXocc_isLoadPossible, 8)                      \
  X(mapDataAddress, KXocc_mapDataAddress, 8)

#define KX_MODULE_EXPORTS(X) KX_EXPORTS_RUN(X) KX_EXPORTS_ONLINE_CHANGE(X)

// The name under which a loader finds an export.
#if defined(_WIN32)
#define KX_EXPORT_NAME(function, bytes) #function "@" #bytes
#else
#define KX_EXPORT_NAME(function, bytes) #function
#endif

// Typed pointers to a module's exports, one member per row of a table.
#define KX_EXPORT_MEMBER(member, function, bytes) decltype(&function) member = nullptr;
struct KxRunExports {
  KX_EXPORTS_RUN(KX_EXPORT_MEMBER)
};
struct KxOnlineChangeExports {
  KX_EXPORTS_ONLINE_CHANGE(KX_EXPORT_MEMBER)
};
#undef KX_EXPORT_MEMBER

// Resolves every member of `exports` through `lookup(name)` (a dlsym or GetProcAddress); calls
// `missing(name)` for each export that is not there. Returns how many were missing.
#define KX_RESOLVE_EXPORT(member, function, bytes)                                            \
  exports.member = reinterpret_cast<decltype(&function)>(lookup(KX_EXPORT_NAME(function, bytes))); \
  if (exports.member == nullptr) {                                                              \
    missing(KX_EXPORT_NAME(function, bytes));                                                   \
    ++count;                                                                                    \
  }
template <class Lookup, class Missing>
int kx_resolve_exports(KxRunExports& exports, Lookup&& lookup, Missing&& missing) {
  int count = 0;
  KX_EXPORTS_RUN(KX_RESOLVE_EXPORT)
  return count;
}
template <class Lookup, class Missing>
int kx_resolve_exports(KxOnlineChangeExports& exports, Lookup&& lookup, Missing&& missing) {
  int count = 0;
  KX_EXPORTS_ONLINE_CHANGE(KX_RESOLVE_EXPORT)
  return count;
}
#undef KX_RESOLVE_EXPORT
