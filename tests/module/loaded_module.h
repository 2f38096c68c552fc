// Loads the built module the way a runtime does (dlopen, exports resolved by name) and gives the
// tests typed access to its exports and to its data area through KXocc_getData / KXocc_setData.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/exports.h"

struct LoadedModule {
  void* handle = nullptr;

  decltype(&KX_fr_SimpleMain) SimpleMain = nullptr;
  decltype(&KX_fr_CallInitFunc) CallInitFunc = nullptr;
  decltype(&KXocc_queryEPCount) queryEPCount = nullptr;
  decltype(&KXocc_queryEP) queryEP = nullptr;
  decltype(&KXocc_queryTASKCount) queryTASKCount = nullptr;
  decltype(&KXocc_queryTASK) queryTASK = nullptr;
  decltype(&KXocc_queryCFWVersion) queryCFWVersion = nullptr;
  decltype(&KXocc_queryTimeFreq) queryTimeFreq = nullptr;
  decltype(&KXocc_queryCVersion) queryCVersion = nullptr;
  decltype(&KXocc_queryCCRC) queryCCRC = nullptr;
  decltype(&KXocc_queryCInfoCount) queryCInfoCount = nullptr;
  decltype(&KXocc_queryCInfo) queryCInfo = nullptr;
  decltype(&KXocc_getDataPointer) getDataPointer = nullptr;
  decltype(&KXocc_getDataAddressOffset) getDataAddressOffset = nullptr;
  decltype(&KXocc_getData) getData = nullptr;
  decltype(&KXocc_setData) setData = nullptr;
  decltype(&KX_fr_CallQueryRetainedDataSize) queryRetainedDataSize = nullptr;
  decltype(&KX_fr_CallGetRetainedData) getRetainedData = nullptr;
  decltype(&KX_fr_CallSetRetainedData) setRetainedData = nullptr;
  decltype(&KX_fr_CallReInitFunc) reInit = nullptr;
  decltype(&KXocc_isReloadPossible) isReloadPossible = nullptr;
  decltype(&KXocc_isLoadPossible) isLoadPossible = nullptr;
  decltype(&KXocc_mapDataAddress) mapDataAddress = nullptr;

  EntryPointDescriptor* ep = nullptr;

  explicit LoadedModule(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(std::string("cannot load module: ") + dlerror());
    resolve(SimpleMain, "KX_fr_SimpleMain");
    resolve(CallInitFunc, "KX_fr_CallInitFunc");
    resolve(queryEPCount, "KXocc_queryEPCount");
    resolve(queryEP, "KXocc_queryEP");
    resolve(queryTASKCount, "KXocc_queryTASKCount");
    resolve(queryTASK, "KXocc_queryTASK");
    resolve(queryCFWVersion, "KXocc_queryCFWVersion");
    resolve(queryTimeFreq, "KXocc_queryTimeFreq");
    resolve(queryCVersion, "KXocc_queryCVersion");
    resolve(queryCCRC, "KXocc_queryCCRC");
    resolve(queryCInfoCount, "KXocc_queryCInfoCount");
    resolve(queryCInfo, "KXocc_queryCInfo");
    resolve(getDataPointer, "KXocc_getDataPointer");
    resolve(getDataAddressOffset, "KXocc_getDataAddressOffset");
    resolve(getData, "KXocc_getData");
    resolve(setData, "KXocc_setData");
    resolve(queryRetainedDataSize, "KX_fr_CallQueryRetainedDataSize");
    resolve(getRetainedData, "KX_fr_CallGetRetainedData");
    resolve(setRetainedData, "KX_fr_CallSetRetainedData");
    resolve(reInit, "KX_fr_CallReInitFunc");
    resolve(isReloadPossible, "KXocc_isReloadPossible");
    resolve(isLoadPossible, "KXocc_isLoadPossible");
    resolve(mapDataAddress, "KXocc_mapDataAddress");
    ep = queryEP(0);
  }
  ~LoadedModule() {
    if (handle != nullptr) dlclose(handle);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  template <typename F>
  void resolve(F& slot, const char* name) {
    slot = reinterpret_cast<F>(dlsym(handle, name));
    if (slot == nullptr) throw std::runtime_error(std::string("export missing: ") + name);
  }

  // The whole data area, read as a runtime reads it.
  std::vector<uint8_t> snapshot() const {
    std::vector<uint8_t> bytes(ep->dataSize);
    DataRef ref{ep, 0};
    if (getData(&ref, bytes.data(), static_cast<uint32_t>(bytes.size())) != 0)
      throw std::runtime_error("reading the data area failed");
    return bytes;
  }

  template <typename T>
  T read(uint32_t offset) const {
    T value{};
    DataRef ref{ep, offset};
    if (getData(&ref, &value, sizeof value) != 0) throw std::runtime_error("read failed");
    return value;
  }

  template <typename T>
  void write(uint32_t offset, T value) {
    DataRef ref{ep, offset};
    if (setData(&ref, &value, sizeof value) != 0) throw std::runtime_error("write failed");
  }
};

// Where the build put the module, and its online-change variant.
inline std::string module_path() { return std::string(KX_BIN_DIR) + "/CCodePublic.so"; }
inline std::string next_module_path() { return std::string(KX_BIN_DIR) + "/CCodePublic_next.so"; }
