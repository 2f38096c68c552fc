// The module's static descriptors, version records and query exports.
#include "abi/descriptors.h"

#include "app/program.h"
#include "abi/exports.h"
#include "module/identity.h"

namespace {

const char kEntryName[] = KX_ENTRY_POINT_NAME;
const char kCfwText[] = KX_CFW_VERSION_TEXT;
const char kEmptyText[] = "";

#if !defined(KX_ONLINE_CHANGE_VARIANT)

// This module cannot replace a running one: no predecessor, no tables.
const uint8_t* const kMoveTable = nullptr;
const uint8_t* const kReinitTable = nullptr;

#else

// The online-change variant, which may replace a running module of its predecessor's layout. Its
// tables are in the runtime's encodings: the move table carries every variable region over
// unchanged ({u32 old offset, u32 new offset, u32 size} entries), the re-initialisation table,
// made of the standard codes only, gives the pulse generator's inputs their call values.

#define KX_U32(v) (v) & 0xFF, ((v) >> 8) & 0xFF, ((v) >> 16) & 0xFF, ((v) >> 24) & 0xFF
const uint8_t kMoveTableBytes[4 + 4 * 12] = {
    KX_U32(52u),
    KX_U32(0u),   KX_U32(0u),   KX_U32(56u),    // the program's variables
    KX_U32(56u),  KX_U32(56u),  KX_U32(203u),   // LagFilter and LagResetEdge
    KX_U32(260u), KX_U32(260u), KX_U32(368u),   // IntRamp and RealRamp
    KX_U32(720u), KX_U32(720u), KX_U32(173u),   // Ext1 and Blinker
};
#undef KX_U32
const uint8_t kReinitTableBytes[12] = {
    0x0C, 0x00, 0x00, 0x00,   // length 12
    0x04, 0x08, 0x03, 0x00,   // skip 776
    0x22, 0x02, 0xE8, 0x03,   // Blinker.OnTime, Blinker.OffTime := 1000
};
const uint8_t* const kMoveTable = kMoveTableBytes;
const uint8_t* const kReinitTable = kReinitTableBytes;

#endif

const CfwVersion kCfwVersion = {KX_CFW_VERSION_MAJOR, KX_CFW_VERSION_MINOR, kCfwText};

}  // namespace

// The code descriptor with the entry-point table directly behind it: the runtime may rely on
// finding entry point 0 at codeDescriptor + 32, so both live in one record.
struct ModuleDescriptors {
  CodeDescriptor code;
  EntryPointDescriptor entryPoints[1];
};
KX_CHECK_FIELD(ModuleDescriptors, code, 0);
KX_CHECK_FIELD(ModuleDescriptors, entryPoints, 32);
KX_CHECK_SIZE(ModuleDescriptors, 32 + 136);

static ModuleDescriptors kx_descriptors = {
    {
        kx_initTable,   // initTable
        kMoveTable,
        kReinitTable,
        kx_identity.predecessorSignature,
        0,
        0,              // retainDescriptor: nothing retained
        kEmptyText,     // tempFrame until the first cycle
        0,
    },
    {{
        sizeof(EntryPointDescriptor),
        kEntryName,
        0x0023EBDDu,
        KX_PI_Program_Control_cycle,
        0,
        0,
        KX_fr_CallInitFunc,
        {0, 0, 0},
        reinterpret_cast<uint8_t*>(&kx_dataArea),
        KX_DATA_AREA_SIZE,
        &kx_descriptors.code,
        0,
        kx_identity.layoutSignature,
        {0, 0, 0, 0, 0, 0, 0},
        0,             // initArg
        0,             // localDebugFlag
        nullptr,       // globalDebugFlag: stored by the runtime
        {0, 0, 0, 0, 0, 0, 0, 0},
    }},
};

KX_EXPORT uint32_t KX_STDCALL KXocc_queryEPCount(void) { return 1; }

KX_EXPORT EntryPointDescriptor* KX_STDCALL KXocc_queryEP(uint32_t index) {
  return index == 0 ? &kx_descriptors.entryPoints[0] : nullptr;
}

KX_EXPORT uint32_t KX_STDCALL KXocc_queryTASKCount(void) { return 0; }
KX_EXPORT void* KX_STDCALL KXocc_queryTASK(uint32_t) { return nullptr; }
KX_EXPORT const CfwVersion* KX_STDCALL KXocc_queryCFWVersion(void) { return &kCfwVersion; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryTimeFreq(void) { return KX_TICKS_PER_SECOND; }
KX_EXPORT const char* KX_STDCALL KXocc_queryCVersion(void) { return kx_identity.codeVersion; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCCRC(void) { return 0; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfoCount(void) { return 0; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfo(uint32_t) { return 0; }
