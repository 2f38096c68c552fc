// The type identifiers that the debug events carry, from the layout's list (app/layout.h).
#pragma once

#include <stdint.h>

#include "app/layout.h"

enum KxTypeId : int32_t {
#define KX_TYPE_ID_ENUM(id, constant, name, kind) KX_TYPE_##constant = id,
  KX_LAYOUT_TYPE_IDS(KX_TYPE_ID_ENUM)
#undef KX_TYPE_ID_ENUM
};

// What a type identifier stands for.
enum KxTypeKind : uint8_t {
  KX_KIND_NONE,
  KX_KIND_PROGRAM,
  KX_KIND_FUNCTION_BLOCK,
  KX_KIND_OPERATION,
};

constexpr KxTypeKind kx_type_kind(int32_t typeId) {
  switch (typeId) {
#define KX_TYPE_ID_KIND(id, constant, name, kind) \
  case id:                                        \
    return KX_KIND_##kind;
    KX_LAYOUT_TYPE_IDS(KX_TYPE_ID_KIND)
#undef KX_TYPE_ID_KIND
  }
  return KX_KIND_NONE;
}
