// Loads the built module the way a runtime does (dlopen, exports resolved by name) and gives the
// tests typed access to its exports and to its data area through KXocc_getData / KXocc_setData.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "abi/export_table.h"

struct LoadedModule : KxRunExports, KxOnlineChangeExports {
  void* handle = nullptr;

  EntryPointDescriptor* ep = nullptr;

  explicit LoadedModule(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(std::string("cannot load module: ") + dlerror());
    std::string missing;
    auto lookup = [this](const char* name) { return dlsym(handle, name); };
    auto note = [&missing](const char* name) { missing += std::string(" ") + name; };
    kx_resolve_exports(static_cast<KxRunExports&>(*this), lookup, note);
    kx_resolve_exports(static_cast<KxOnlineChangeExports&>(*this), lookup, note);
    if (!missing.empty()) throw std::runtime_error("exports missing:" + missing);
    ep = queryEP(0);
  }
  ~LoadedModule() {
    if (handle != nullptr) dlclose(handle);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

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
