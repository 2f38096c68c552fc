// The module's exported functions: stdcall, exported as name@N on Windows and as the plain name on
// Linux. A runtime finds them by name; tests and the host use these declarations for the types.
#pragma once

#include "abi/descriptors.h"

#if defined(KX_MODULE_BUILDING)
#define KX_EXPORT extern "C" KX_DLL_EXPORT
#else
#define KX_EXPORT extern "C"
#endif

// Entry-point dispatch, initialisation and module queries.
KX_EXPORT int32_t KX_STDCALL KX_fr_SimpleMain(uint32_t mode, uint32_t argument);
KX_EXPORT int32_t KX_STDCALL KX_fr_CallInitFunc(EntryPointDescriptor* descriptor, uint32_t startMode);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryEPCount(void);
KX_EXPORT EntryPointDescriptor* KX_STDCALL KXocc_queryEP(uint32_t index);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryTASKCount(void);
KX_EXPORT void* KX_STDCALL KXocc_queryTASK(uint32_t index);
KX_EXPORT const CfwVersion* KX_STDCALL KXocc_queryCFWVersion(void);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryTimeFreq(void);
KX_EXPORT const char* KX_STDCALL KXocc_queryCVersion(void);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCCRC(void);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfoCount(void);
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfo(uint32_t index);

// Data access and retained data.
KX_EXPORT uint8_t* KX_STDCALL KXocc_getDataPointer(const DataRef* reference);
KX_EXPORT uint32_t KX_STDCALL KXocc_getDataAddressOffset(uint32_t address,
                                                         const EntryPointDescriptor* descriptor);
KX_EXPORT int32_t KX_STDCALL KXocc_getData(const DataRef* reference, void* destination, uint32_t size);
KX_EXPORT int32_t KX_STDCALL KXocc_setData(const DataRef* reference, const void* source, uint32_t size);
KX_EXPORT uint32_t KX_STDCALL KX_fr_CallQueryRetainedDataSize(EntryPointDescriptor* descriptor);
KX_EXPORT uint32_t KX_STDCALL KX_fr_CallGetRetainedData(EntryPointDescriptor* descriptor, uint8_t* buffer);
KX_EXPORT uint32_t KX_STDCALL KX_fr_CallSetRetainedData(EntryPointDescriptor* descriptor,
                                                        const uint8_t* buffer);

// Online change.
KX_EXPORT int32_t KX_STDCALL KX_fr_CallReInitFunc(EntryPointDescriptor* current,
                                                  EntryPointDescriptor* predecessor, uint32_t unused);
KX_EXPORT int32_t KX_STDCALL KXocc_isReloadPossible(EntryPointDescriptor* current,
                                                    EntryPointDescriptor* predecessor, uint32_t unused);
KX_EXPORT int32_t KX_STDCALL KXocc_isLoadPossible(uint32_t selector, uint32_t target);
KX_EXPORT int32_t KX_STDCALL KXocc_mapDataAddress(DataRef* reference, EntryPointDescriptor* current);

// Status values of the data-access exports.
#define KX_STATUS_OK 0
#define KX_STATUS_NO_DATA_POINTER 33
#define KX_STATUS_RANGE_PAST_END 34
// Status values of the online-change exports.
#define KX_STATUS_MAPPING_FAILED 65
#define KX_STATUS_LAYOUT_MISMATCH 67
#define KX_STATUS_NO_ONLINE_CHANGE 69

// Modes of KX_fr_SimpleMain.
#define KX_MODE_CYCLE 0
#define KX_MODE_INIT 1
