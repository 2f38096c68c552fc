#include "app/program.h"

// Runs once per cycle. The scratch block is reserved anew in every cycle in this frame and its
// address published in the code descriptor; the module itself never reads or writes it, and the
// address is left in place after the cycle returns.
void KX_STDCALL KX_PI_Program_Control_cycle(EntryPointDescriptor* descriptor) {
  unsigned char scratch[128];
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  descriptor->codeDescriptor->tempFrame = scratch;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  Program_Control(descriptor->dataArea, descriptor);
}
