#include "app/program.h"

// Zero at load; aligned so that no variable straddles more cache lines than it must.
alignas(8) DataArea kx_dataArea;
