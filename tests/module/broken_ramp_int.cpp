// The deliberately broken test fixture CCodePublic_broken: Ramp_Int exactly as the module has it,
// except that its one addition (step 20, UpCandidate := Value + Increment) subtracts, so that the
// INT ramp never rises. The module's own source stays untouched: the headers come first (their
// guards keep them from being read again), then the one operation is renamed for this file alone.
#include "app/program.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"
#include "blocks/time_literals.h"

#define kx_add_real kx_sub_real
#include "app/ramp_int.cpp"
