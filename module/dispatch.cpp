// Entry-point dispatch and initialisation.
#include "abi/exports.h"
#include "abi/kx_framework.h"

KX_EXPORT int32_t KX_STDCALL KX_fr_SimpleMain(uint32_t mode, uint32_t argument) {
  const uint32_t count = KXocc_queryEPCount();
  for (uint32_t index = 0; index < count; ++index) {
    EntryPointDescriptor* const descriptor = KXocc_queryEP(index);
    if (descriptor == nullptr) continue;
    if (mode == KX_MODE_CYCLE) {
      if (descriptor->cycleFunction != nullptr) descriptor->cycleFunction(descriptor);
    } else if (mode == KX_MODE_INIT) {
      if (descriptor->initFunction != nullptr) {
        const int32_t status = descriptor->initFunction(descriptor, argument);
        if (status != 0) return status;
      }
    }
    // Mode 2 and every other mode: nothing to do for this entry point.
  }
  return 0;
}

// Start mode 0 is a cold start (flag 1 to the runtime), start mode 1 a warm start (flag 0); the
// other start modes initialise nothing. The runtime's result is not used. A null descriptor
// names no data area: nothing to initialise.
KX_EXPORT int32_t KX_STDCALL KX_fr_CallInitFunc(EntryPointDescriptor* descriptor, uint32_t startMode) {
  if (descriptor == nullptr || descriptor->codeDescriptor == nullptr) return 0;
  if (startMode == 0 || startMode == 1) {
    const uint32_t flag = startMode == 0 ? 1u : 0u;
    (void)KX_fr_init2(descriptor->codeDescriptor->initTable, descriptor->dataArea, flag,
                      descriptor->initArg);
  }
  return 0;
}

// The runtime's diagnostic time function belongs to the module's imports although no path that
// runs calls it: this reference keeps it in the import table (an undefined dynamic symbol on
// Linux).
extern "C" __attribute__((used)) void(KX_CDECL* const kx_rtc_diag_timefunc_import)(void) =
    rtc_diag_timefunc;
