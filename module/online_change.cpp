// Online change: replacing a running module by this one without losing its variables, and
// carrying variable references across. The module never interprets the tables; it only decides
// which table goes to which runtime call.
//
// Caller mistakes that would otherwise crash are answered without touching anything: a null
// current descriptor has no online-change support (69; for the re-initialisation: nothing to do,
// 0), a null predecessor cannot carry the expected layout (67), and a null reference cannot be
// mapped (65, nothing written).
#include "abi/exports.h"
#include "abi/kx_framework.h"

namespace {

const CodeDescriptor* kx_code(const EntryPointDescriptor* descriptor) {
  return descriptor == nullptr ? nullptr : descriptor->codeDescriptor;
}

bool kx_layout_matches(const CodeDescriptor* code, const EntryPointDescriptor* predecessor) {
  return predecessor != nullptr && predecessor->layoutSignature == code->predecessorSignature;
}

}  // namespace

KX_EXPORT int32_t KX_STDCALL KX_fr_CallReInitFunc(EntryPointDescriptor* current,
                                                  EntryPointDescriptor* predecessor, uint32_t) {
  const CodeDescriptor* const code = kx_code(current);
  if (code == nullptr || code->predecessorSignature == 0) return KX_STATUS_OK;
  if (!kx_layout_matches(code, predecessor)) return KX_STATUS_LAYOUT_MISMATCH;
  // The values move first, then the re-initialisation table applies to the moved data.
  if (code->moveTable != nullptr) (void)KX_fr_move(code->moveTable, predecessor->dataArea, current->dataArea);
  if (code->reinitTable != nullptr) (void)KX_fr_init2(code->reinitTable, current->dataArea, 1, current->initArg);
  return KX_STATUS_OK;
}

KX_EXPORT int32_t KX_STDCALL KXocc_isReloadPossible(EntryPointDescriptor* current,
                                                    EntryPointDescriptor* predecessor, uint32_t) {
  const CodeDescriptor* const code = kx_code(current);
  if (code == nullptr || code->predecessorSignature == 0) return KX_STATUS_NO_ONLINE_CHANGE;
  if (!kx_layout_matches(code, predecessor)) return KX_STATUS_LAYOUT_MISMATCH;
  return KX_STATUS_OK;
}

// The runtime's version check is asked only for selector 1 with a target; 1 and 1 are this
// module's fixed arguments to it.
KX_EXPORT int32_t KX_STDCALL KXocc_isLoadPossible(uint32_t selector, uint32_t target) {
  if (selector == 1 && target != 0) return KX_fs_doesTargetVersionMatch(selector, target, 1, 1);
  return KX_STATUS_OK;
}

KX_EXPORT int32_t KX_STDCALL KXocc_mapDataAddress(DataRef* reference, EntryPointDescriptor* current) {
  const CodeDescriptor* const code = kx_code(current);
  if (code == nullptr || code->moveTable == nullptr) return KX_STATUS_NO_ONLINE_CHANGE;
  if (reference == nullptr) return KX_STATUS_MAPPING_FAILED;
  uint32_t mapped = 0;
  if (KX_fr_mapAddress(code->moveTable, reference->offset, &mapped) != 0) return KX_STATUS_MAPPING_FAILED;
  reference->offset = mapped;
  reference->descriptor = current;
  return KX_STATUS_OK;
}
