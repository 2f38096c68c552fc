// The data area: every variable of the application in one 896-byte block. The packed structs
// below are generated from the layout (app/layout.h), one member per row with the padding
// written out, and every row's offset and every record's size is checked at compile time.
#pragma once

#include <type_traits>

#include "abi/kx_types.h"
#include "app/layout.h"
#include "app/type_ids.h"

// ---- the structs -------------------------------------------------------------------------------

#define KX_MEMBER_VAR(offset, type, name, direction) KX_##type name;
#define KX_MEMBER_FIELD(offset, type, name, op) KX_##type name;
#define KX_MEMBER_BLOCK(offset, record, name) record name;
#define KX_MEMBER_TIMER(offset, kind, name) TimerRecord name;
#define KX_MEMBER_EDGE(offset, name) RTrigRecord name;
#define KX_MEMBER_PAD(offset, size) uint8_t pad##offset[size];
#define KX_MEMBER_SPARE(offset, size) uint8_t unused##offset[size];
#define KX_DEFINE_RECORD(record, type, size, list) \
  struct record {                                  \
    KX_LAYOUT_ROWS(list, KX_MEMBER_)               \
  };

#pragma pack(push, 1)
KX_LAYOUT_BLOCKS(KX_DEFINE_RECORD)
#pragma pack(pop)

// ---- the columns as numbers --------------------------------------------------------------------

// A program variable's direction (VAR rows); the fields of instances are INTERNAL.
enum KxDirection : uint8_t { KX_DIRECTION_INPUT, KX_DIRECTION_OUTPUT, KX_DIRECTION_INTERNAL };

// The OP column of FIELD rows: 0 for NONE, else the operation's type identifier.
enum KxFieldOperation : int32_t {
  KX_FIELD_OP_NONE = 0,
#define KX_FIELD_OP_ENUM(id, constant, name, kind) KX_FIELD_OP_##constant = id,
  KX_LAYOUT_TYPE_IDS(KX_FIELD_OP_ENUM)
#undef KX_FIELD_OP_ENUM
};

// ---- the checks --------------------------------------------------------------------------------
//
// Every row lies at its offset with its type, every record has its size, every OP names an
// operation and every TIMER a timer block. Each record is checked in a namespace of its own, where
// KxRecord names it.

#define KX_AT(offset, name) \
  static_assert(offsetof(KxRecord, name) == (offset), #name " must lie at offset " #offset)
#define KX_AT_TYPE(type, name)                                      \
  static_assert(std::is_same_v<decltype(KxRecord::name), KX_##type>, \
                #name " must be of type " #type)
#define KX_AT_VAR(offset, type, name, direction) \
  KX_AT(offset, name);                           \
  KX_AT_TYPE(type, name);                        \
  static_assert(KX_DIRECTION_##direction != KX_DIRECTION_INTERNAL, #name ": INPUT or OUTPUT");
#define KX_AT_FIELD(offset, type, name, op)                                     \
  KX_AT(offset, name);                                                          \
  KX_AT_TYPE(type, name);                                                       \
  static_assert(KX_FIELD_OP_##op == KX_FIELD_OP_NONE ||                         \
                    kx_type_kind(KX_FIELD_OP_##op) == KX_KIND_OPERATION,        \
                #name ": " #op " is not an operation");
#define KX_AT_BLOCK(offset, record, name) KX_AT(offset, name);
#define KX_AT_TIMER(offset, kind, name)                                          \
  KX_AT(offset, name);                                                           \
  static_assert(KX_TYPE_##kind == KX_TYPE_TON || KX_TYPE_##kind == KX_TYPE_TOF, \
                #name ": a timer is a TON or a TOF");
#define KX_AT_EDGE(offset, name) KX_AT(offset, name);
#define KX_AT_PAD(offset, size) KX_AT(offset, pad##offset);
#define KX_AT_SPARE(offset, size) KX_AT(offset, unused##offset);
#define KX_CHECK_RECORD(record, size, list)                                      \
  namespace kx_layout_of_##record {                                              \
  using KxRecord = record;                                                       \
  KX_LAYOUT_ROWS(list, KX_AT_)                                                   \
  static_assert(sizeof(KxRecord) == (size), #record " must be " #size " bytes"); \
  }
#define KX_CHECK_BLOCK(record, type, size, list)                        \
  KX_CHECK_RECORD(record, size, list)                                   \
  static_assert(kx_type_kind(KX_TYPE_##type) != KX_KIND_OPERATION,      \
                #record ": " #type " is not a block type");

KX_LAYOUT_EMBEDDED(KX_CHECK_RECORD)
KX_LAYOUT_BLOCKS(KX_CHECK_BLOCK)

// The data area's size, as the entry point reports it (896: the DataArea row of the layout).
#define KX_DATA_AREA_SIZE static_cast<uint32_t>(sizeof(DataArea))

#undef KX_MEMBER_VAR
#undef KX_MEMBER_FIELD
#undef KX_MEMBER_BLOCK
#undef KX_MEMBER_TIMER
#undef KX_MEMBER_EDGE
#undef KX_MEMBER_PAD
#undef KX_MEMBER_SPARE
#undef KX_DEFINE_RECORD
#undef KX_AT
#undef KX_AT_TYPE
#undef KX_AT_VAR
#undef KX_AT_FIELD
#undef KX_AT_BLOCK
#undef KX_AT_TIMER
#undef KX_AT_EDGE
#undef KX_AT_PAD
#undef KX_AT_SPARE
#undef KX_CHECK_RECORD
#undef KX_CHECK_BLOCK
