// Who the module is: its name, its entry point, its version texts and the signature of its data
// layout, for the module's descriptors (module/descriptors.cpp) and for the symbol file written
// beside it (tools/symbol_file.cpp). Two modules are built from the same sources: CCodePublic and
// its online-change variant CCodePublic_next (KX_ONLINE_CHANGE_VARIANT), the same program with the
// same layout, generated a minute later, which may replace a running CCodePublic.
#pragma once

#include <stdint.h>

// The version of the code generator framework (KXocc_queryCFWVersion).
#define KX_CFW_VERSION_MAJOR 3u
#define KX_CFW_VERSION_MINOR 3u
#define KX_CFW_VERSION_TEXT "CodeGeneratorFW Version 3.3"

// The one entry point, which runs the program Program_Control.
#define KX_ENTRY_POINT_NAME "KX_PI_Program_Control"

struct KxModuleIdentity {
  const char* name;                // the library's file name without its suffix
  const char* codeVersion;         // KXocc_queryCVersion
  uint32_t layoutSignature;        // the entry point's layoutSignature
  uint32_t predecessorSignature;   // the layout this module may replace online; 0: none
};

constexpr KxModuleIdentity kx_identity_module = {
    "CCodePublic",
    "2010-07-28 15:10:27",
    0x4C5080A3u,   // 2010-07-28 19:10:27 UTC
    0,
};

constexpr KxModuleIdentity kx_identity_next = {
    "CCodePublic_next",
    "2010-07-28 15:11:27",
    0x4C5080DFu,   // 2010-07-28 19:11:27 UTC
    kx_identity_module.layoutSignature,
};

// The identity of the module being built.
#if defined(KX_ONLINE_CHANGE_VARIANT)
constexpr const KxModuleIdentity& kx_identity = kx_identity_next;
#else
constexpr const KxModuleIdentity& kx_identity = kx_identity_module;
#endif
