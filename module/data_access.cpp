// Data access by offset and retained data.
//
// The retained-data exports answer 0 for a null descriptor, as for a module that retains nothing.
// The copy exports check before they copy: never a partial copy. Two caller mistakes that would
// otherwise crash are answered as refusals: a null reference pointer is "no data pointer", and a
// null buffer with a non-zero size is refused (status 33 with nothing copied) -- a null buffer with
// size 0 copies nothing and succeeds like any other empty copy.
#include "abi/exports.h"
#include "abi/kx_framework.h"

KX_EXPORT uint8_t* KX_STDCALL KXocc_getDataPointer(const DataRef* reference) {
  if (reference == nullptr || reference->descriptor == nullptr) return nullptr;
  const EntryPointDescriptor* const descriptor = reference->descriptor;
  if (!(reference->offset < descriptor->dataSize)) return nullptr;
  return descriptor->dataArea + reference->offset;
}

KX_EXPORT uint32_t KX_STDCALL KXocc_getDataAddressOffset(uint32_t address,
                                                         const EntryPointDescriptor* descriptor) {
  // Wrapped unsigned difference, no range check: the inverse of KXocc_getDataPointer inside the
  // data area. Without a descriptor there is no data area to measure from: the answer is then
  // 0xFFFFFFFF, an offset that no data area contains, so that a reference built from it is refused.
  if (descriptor == nullptr) return 0xFFFFFFFFu;
  return address - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(descriptor->dataArea));
}

// Both checks in order, before any byte moves; null when the copy is refused.
static uint8_t* kx_checked_range(const DataRef* reference, const void* buffer, uint32_t size,
                                 int32_t* status) {
  uint8_t* const pointer = KXocc_getDataPointer(reference);
  if (pointer == nullptr) {
    *status = KX_STATUS_NO_DATA_POINTER;
    return nullptr;
  }
  if (size > reference->descriptor->dataSize - reference->offset) {
    *status = KX_STATUS_RANGE_PAST_END;
    return nullptr;
  }
  if (buffer == nullptr && size != 0) {
    *status = KX_STATUS_NO_DATA_POINTER;
    return nullptr;
  }
  *status = KX_STATUS_OK;
  return pointer;
}

KX_EXPORT int32_t KX_STDCALL KXocc_getData(const DataRef* reference, void* destination, uint32_t size) {
  int32_t status;
  uint8_t* const pointer = kx_checked_range(reference, destination, size, &status);
  if (pointer == nullptr) return status;
  kx_memcpy(destination, pointer, size);
  return KX_STATUS_OK;
}

KX_EXPORT int32_t KX_STDCALL KXocc_setData(const DataRef* reference, const void* source, uint32_t size) {
  int32_t status;
  uint8_t* const pointer = kx_checked_range(reference, source, size, &status);
  if (pointer == nullptr) return status;
  kx_memcpy(pointer, source, size);
  return KX_STATUS_OK;
}

static uint32_t kx_retain_handle(const EntryPointDescriptor* descriptor) {
  if (descriptor == nullptr || descriptor->codeDescriptor == nullptr) return 0;
  return descriptor->codeDescriptor->retainDescriptor;
}

KX_EXPORT uint32_t KX_STDCALL KX_fr_CallQueryRetainedDataSize(EntryPointDescriptor* descriptor) {
  const uint32_t handle = kx_retain_handle(descriptor);
  if (handle == 0) return 0;
  return KX_fr_QueryRetainedDataSize(handle);
}

KX_EXPORT uint32_t KX_STDCALL KX_fr_CallGetRetainedData(EntryPointDescriptor* descriptor, uint8_t* buffer) {
  const uint32_t handle = kx_retain_handle(descriptor);
  if (handle == 0) return 0;
  return KX_fr_GetRetainedData(handle, descriptor->dataArea, buffer);
}

KX_EXPORT uint32_t KX_STDCALL KX_fr_CallSetRetainedData(EntryPointDescriptor* descriptor,
                                                        const uint8_t* buffer) {
  const uint32_t handle = kx_retain_handle(descriptor);
  if (handle == 0) return 0;
  return KX_fr_SetRetainedData(handle, descriptor->dataArea, buffer);
}
