// The static records through which a runtime sees the module: the code descriptor, the
// entry-point descriptor and the version record. The runtime reads them by offset, so they are
// laid out field by field and checked at compile time.
#pragma once

#include "abi/kx_types.h"

struct EntryPointDescriptor;

typedef void(KX_STDCALL* KxCycleFunction)(EntryPointDescriptor* descriptor);
typedef int32_t(KX_STDCALL* KxInitFunction)(EntryPointDescriptor* descriptor, uint32_t startMode);

struct CodeDescriptor {
  const uint8_t* initTable;        // initial-value table for KX_fr_init2
  const uint8_t* moveTable;        // online change: table for KX_fr_move / KX_fr_mapAddress
  const uint8_t* reinitTable;      // online change: table applied after the move
  uint32_t predecessorSignature;   // layoutSignature this module may replace; 0 = none
  uint32_t reserved16;
  uint32_t retainDescriptor;       // retained-data handle; 0 = nothing retained
  const void* tempFrame;           // the running cycle's scratch block
  uint32_t reserved28;
};
KX_CHECK_FIELD(CodeDescriptor, initTable, 0);
KX_CHECK_FIELD(CodeDescriptor, moveTable, 4);
KX_CHECK_FIELD(CodeDescriptor, reinitTable, 8);
KX_CHECK_FIELD(CodeDescriptor, predecessorSignature, 12);
KX_CHECK_FIELD(CodeDescriptor, reserved16, 16);
KX_CHECK_FIELD(CodeDescriptor, retainDescriptor, 20);
KX_CHECK_FIELD(CodeDescriptor, tempFrame, 24);
KX_CHECK_FIELD(CodeDescriptor, reserved28, 28);
KX_CHECK_SIZE(CodeDescriptor, 32);

#pragma pack(push, 4)
struct EntryPointDescriptor {
  uint32_t size;                   // 136
  const char* name;
  uint32_t entryId;                // the runtime's; the module never reads it
  KxCycleFunction cycleFunction;
  uint32_t reserved16;
  uint32_t reserved20;
  KxInitFunction initFunction;
  uint32_t reserved28[3];
  uint8_t* dataArea;
  uint32_t dataSize;
  CodeDescriptor* codeDescriptor;
  uint32_t reserved52;
  uint32_t layoutSignature;
  uint32_t reserved60[7];
  uint64_t initArg;                // handed unchanged to every KX_fr_init2 call
  uint32_t localDebugFlag;         // non-zero: hooks on for this entry point
  volatile uint32_t* globalDebugFlag;   // the runtime's global hook switch (may stay null)
  uint32_t reserved104[8];
};
#pragma pack(pop)
KX_CHECK_FIELD(EntryPointDescriptor, size, 0);
KX_CHECK_FIELD(EntryPointDescriptor, name, 4);
KX_CHECK_FIELD(EntryPointDescriptor, entryId, 8);
KX_CHECK_FIELD(EntryPointDescriptor, cycleFunction, 12);
KX_CHECK_FIELD(EntryPointDescriptor, reserved16, 16);
KX_CHECK_FIELD(EntryPointDescriptor, reserved20, 20);
KX_CHECK_FIELD(EntryPointDescriptor, initFunction, 24);
KX_CHECK_FIELD(EntryPointDescriptor, reserved28, 28);
KX_CHECK_FIELD(EntryPointDescriptor, dataArea, 40);
KX_CHECK_FIELD(EntryPointDescriptor, dataSize, 44);
KX_CHECK_FIELD(EntryPointDescriptor, codeDescriptor, 48);
KX_CHECK_FIELD(EntryPointDescriptor, reserved52, 52);
KX_CHECK_FIELD(EntryPointDescriptor, layoutSignature, 56);
KX_CHECK_FIELD(EntryPointDescriptor, reserved60, 60);
KX_CHECK_FIELD(EntryPointDescriptor, initArg, 88);
KX_CHECK_FIELD(EntryPointDescriptor, localDebugFlag, 96);
KX_CHECK_FIELD(EntryPointDescriptor, globalDebugFlag, 100);
KX_CHECK_FIELD(EntryPointDescriptor, reserved104, 104);
KX_CHECK_SIZE(EntryPointDescriptor, 136);

struct CfwVersion {
  uint32_t major;
  uint32_t minor;
  const char* text;
};
KX_CHECK_FIELD(CfwVersion, major, 0);
KX_CHECK_FIELD(CfwVersion, minor, 4);
KX_CHECK_FIELD(CfwVersion, text, 8);
KX_CHECK_SIZE(CfwVersion, 12);
