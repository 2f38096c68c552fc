// The module's static descriptors, version records and query exports.
#include "module/descriptors.h"

#include "app/program.h"
#include "module/exports.h"

namespace {

const char kEntryName[] = "KX_PI_Program_Control";
const char kCfwText[] = "CodeGeneratorFW Version 3.3";
const char kCodeVersion[] = "2010-07-28 15:10:27";
const char kEmptyText[] = "";

const CfwVersion kCfwVersion = {3, 3, kCfwText};

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
        nullptr,        // moveTable: no online change in this module
        nullptr,        // reinitTable
        0,              // predecessorSignature
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
        0x4C5080A3u,   // layoutSignature: 2010-07-28 19:10:27 UTC
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
KX_EXPORT const char* KX_STDCALL KXocc_queryCVersion(void) { return kCodeVersion; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCCRC(void) { return 0; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfoCount(void) { return 0; }
KX_EXPORT uint32_t KX_STDCALL KXocc_queryCInfo(uint32_t) { return 0; }
