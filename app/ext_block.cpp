#include "app/program.h"
#include "blocks/hooks.h"

// Ext_Block's body is empty in this module: its outputs keep whatever the instance holds.
void Ext_Block(ExtBlockInstance* instance) { (void)instance; }

// The Ext1 network: Ext_Block has no generated body, so the caller brackets it with the kind-6
// event and the ExitHook itself. The program's own variables are read and written at their fixed
// places in the module's data area; the instance is reached through the data area it was given.
void Network_Ext1(DataArea* base, EntryPointDescriptor* descriptor) {
  ExtBlockInstance* const ext = &base->Ext1;
  DataArea* const vars = &kx_dataArea;
  kx_enter_hook(KX_TYPE_EXT_BLOCK, ext, KX_EVENT_STEP, descriptor);
  ext->ENO = 1;
  kx_enter_hook(KX_TYPE_EXT_BLOCK, ext, KX_EVENT_ENTRY, descriptor);
  ext->In1 = vars->ExtIn1;
  ext->In2 = vars->ExtIn2;
  ext->In3 = 111;
  ext->In4 = vars->ExtIn4;
  ext->In5 = vars->ExtIn5;
  ext->In6 = vars->ExtIn6;
  ext->In7 = 10;
  ext->In8 = vars->ExtIn8;
  ext->In9 = vars->BlinkQ;
  ext->In10 = 0;
  ext->In11 = vars->ExtIn11;
  ext->In12 = vars->ExtIn12;
  ext->In13 = 999;
  Ext_Block(ext);
  kx_exit_hook(descriptor);
  vars->ExtOut1 = ext->Out1;
  vars->ExtOut2 = ext->Out2;
  vars->ExtOut3 = ext->Out3;
  vars->ExtOut4 = ext->Out4;
  vars->ExtOut5 = ext->Out5;
}
