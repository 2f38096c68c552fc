#include "softplc/util/platform.h"

#include <string>

namespace softplc {

Result<std::filesystem::path> default_module_path() {
  auto self = executable_path();
  if (!self) return self.error();
  return self->parent_path() / (std::string("CCodePublic") + library_suffix());
}

}  // namespace softplc
