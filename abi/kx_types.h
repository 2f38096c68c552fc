// Basic types, calling conventions and the runtime's fixed-layout records, as the module and the
// runtime libraries both see them. Every record here is byte-exact: the runtime addresses its
// fields by offset, so each field's offset and each record's size is checked at compile time.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
#define KX_STDCALL __attribute__((stdcall))
#define KX_CDECL __attribute__((cdecl))
#elif defined(KX_NATIVE_CORE)
// The host's core and the runtime libraries built for the build machine (x86-64) to run under a
// thread sanitizer, which has no 32-bit x86 runtime. No module file is loaded there: the records
// below keep their fields in the machine's own layout, for modules made of functions of the test
// itself, and the calling conventions are the machine's one.
#define KX_STDCALL
#define KX_CDECL
#else
#error "the module and its runtime are 32-bit i386 code (build with -m32 or the i686 mingw-w64 compiler)"
#endif

#if defined(_WIN32)
#define KX_DLL_EXPORT __declspec(dllexport)
#define KX_DLL_IMPORT __declspec(dllimport)
#else
#define KX_DLL_EXPORT __attribute__((visibility("default")))
#define KX_DLL_IMPORT
#endif

// IEC 61131-3 elementary types as they lie in the data area.
typedef uint8_t KX_BOOL;   // 0 is FALSE, any other byte counts as TRUE
typedef int16_t KX_INT;
typedef uint16_t KX_UINT;
typedef float KX_REAL;
typedef int64_t KX_TIME;   // ticks of 1/1193182 s

#define KX_TICKS_PER_SECOND 1193182u

#if defined(__i386__)
#define KX_CHECK_FIELD(rec, field, off) \
  static_assert(offsetof(rec, field) == (off), #rec "." #field " must lie at offset " #off)
#define KX_CHECK_SIZE(rec, size) static_assert(sizeof(rec) == (size), #rec " must be " #size " bytes")
#else   // the native core: 8-byte pointers, so no 32-bit offsets to check
#define KX_CHECK_FIELD(rec, field, off) static_assert(true)
#define KX_CHECK_SIZE(rec, size) static_assert(true)
#endif

struct EntryPointDescriptor;

// All data-area records are packed: every field lies exactly where the table says, with the
// padding written out, and TIME fields sit on 4-byte (not 8-byte) boundaries on both targets.
#pragma pack(push, 1)

// The standard timer record (TON and TOF) that the runtime's timer blocks work on.
struct TimerRecord {
  KX_BOOL IN;
  uint8_t pad1[3];
  KX_TIME PT;
  KX_BOOL Q;
  uint8_t pad13[3];
  KX_TIME ET;
  uint8_t state[12];   // owned by the runtime's timer block
};
KX_CHECK_FIELD(TimerRecord, IN, 0);
KX_CHECK_FIELD(TimerRecord, PT, 4);
KX_CHECK_FIELD(TimerRecord, Q, 12);
KX_CHECK_FIELD(TimerRecord, ET, 16);
KX_CHECK_FIELD(TimerRecord, state, 24);
KX_CHECK_SIZE(TimerRecord, 36);

// The rising-edge detector, computed in place by the generated code.
struct RTrigRecord {
  KX_BOOL CLK;
  KX_BOOL Q;
  KX_BOOL M;
};
KX_CHECK_FIELD(RTrigRecord, CLK, 0);
KX_CHECK_FIELD(RTrigRecord, Q, 1);
KX_CHECK_FIELD(RTrigRecord, M, 2);
KX_CHECK_SIZE(RTrigRecord, 3);

// A variable reference held by the runtime: an entry point and a byte offset in its data area.
struct DataRef {
  EntryPointDescriptor* descriptor;   // null: unbound
  uint32_t offset;
};
KX_CHECK_FIELD(DataRef, descriptor, 0);
KX_CHECK_FIELD(DataRef, offset, 4);
KX_CHECK_SIZE(DataRef, 8);

#pragma pack(pop)
