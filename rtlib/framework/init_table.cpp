// KX_fr_init2: applies an initial-value table to a registered data area.
//
// The table: a u32 length in bytes, counting these four, then entries up to that length (there is
// no end code). Each entry is a code byte and its operands, little-endian, and works on a cursor:
// a data-area offset that starts at 0 and only moves forward.
//   0x02 u16 n         skip n bytes
//   0x04 u24 n         skip n bytes
//   0x20 v0 v1         store the 2 bytes at the cursor; cursor + 2
//   0x22 u8 n v0 v1    store the 2 bytes n times one after another; cursor + 2n
//   0x40 v0 v1 v2 v3   store the 4 bytes at the cursor; cursor + 4
//
// Flag KXRT_INIT_COLD (1) has two uses, told apart by what the host is doing (registry.cpp):
//   - a cold start: the whole data area is cleared and then the table applied;
//   - the re-initialisation of an online change, which applies the new module's
//     re-initialisation table with flag 1 right after the move: the table is applied without the
//     clearing, which would throw away every value the move has just carried over. This is the
//     case while the host has declared an online change for the area
//     (kxrt_online_change_begin), or when the last KX_fr_move went into this area with no latch
//     since.
// Flag KXRT_INIT_WARM (0): warm start, only the table is applied; bytes it passes over keep their
// values. Any other flag is refused. initArg is accepted and ignored: this runtime has no use for
// it.
//
// The call never writes outside the data area it is given, whose size comes from the registered
// entry point (kxrt_register_entry_point). It checks the whole table before it writes a byte, and
// refuses, writing nothing, with a non-zero result and a message (kxrt_last_message):
//   - a null table or data area, or a data area that no registered entry point owns;
//   - a length below 4, or above 4 + 5 x the data size (one five-byte entry per data-area byte is
//     more than any table can sensibly need: such a length is corrupt, and reading up to it could
//     run past the real table);
//   - an unknown code, or an entry cut off by the table's end;
//   - an entry that would store past, or move the cursor past, the data area's end (the cursor
//     may end exactly at the end).
#include <algorithm>

#include "internal.h"

namespace {

// One store of the table: `repeat` copies of the `value` bytes, from data-area offset `offset`.
struct Store {
  uint32_t offset;
  std::span<const uint8_t> value;
  uint32_t repeat;
};

// Walks the entries, checking each against the table's end and the data area's end, and hands
// every store to `apply`. Returns KXRT_OK, or a refusal (message recorded) at the first fault.
template <class Apply>
int32_t walk(std::span<const uint8_t> entries, uint32_t area_size, Apply&& apply) {
  kxrt::TableReader reader(entries);
  uint64_t cursor = 0;   // 64 bits: a skip can never wrap it
  while (!reader.at_end()) {
    const size_t at = 4 + reader.position();   // byte offset in the whole table, for messages
    const uint32_t code = *reader.uint(1);
    uint64_t advance = 0;
    std::optional<Store> store;
    bool complete = true;
    switch (code) {
      case 0x02:
      case 0x04: {
        const auto count = reader.uint(code == 0x02 ? 2 : 3);
        if (!count) complete = false;
        else advance = *count;
        break;
      }
      case 0x20:
      case 0x40: {
        const auto value = reader.take(code == 0x20 ? 2 : 4);
        if (!value) complete = false;
        else {
          store = Store{static_cast<uint32_t>(cursor), *value, 1};
          advance = value->size();
        }
        break;
      }
      case 0x22: {
        const auto count = reader.uint(1);
        const auto value = count ? reader.take(2) : std::nullopt;
        if (!value) complete = false;
        else {
          store = Store{static_cast<uint32_t>(cursor), *value, *count};
          advance = uint64_t{2} * *count;
        }
        break;
      }
      default:
        return kxrt::refuse(KXRT_E_MALFORMED, "KX_fr_init2: unknown code 0x%02X at table byte %zu",
                            code, at);
    }
    if (!complete) {
      return kxrt::refuse(KXRT_E_MALFORMED,
                          "KX_fr_init2: entry 0x%02X at table byte %zu is cut off by the table's "
                          "end (length %zu)",
                          code, at, entries.size() + 4);
    }
    if (cursor + advance > area_size) {
      return kxrt::refuse(KXRT_E_RANGE,
                          "KX_fr_init2: entry 0x%02X at table byte %zu goes from data offset %llu "
                          "to %llu, past the data area's end (%u bytes)",
                          code, at, static_cast<unsigned long long>(cursor),
                          static_cast<unsigned long long>(cursor + advance), area_size);
    }
    if (store) apply(*store);
    cursor += advance;
  }
  return KXRT_OK;
}

}  // namespace

extern "C" KXAPI_API int32_t KX_CDECL KX_fr_init2(const uint8_t* table, uint8_t* dataArea,
                                                  uint32_t flag, uint64_t /*initArg*/) {
  const bool reinitialisation = kxrt::reinitialises(dataArea);   // asked first: every call forgets the move
  if (table == nullptr) return kxrt::refuse(KXRT_E_NULL, "KX_fr_init2: null table");
  if (flag != KXRT_INIT_WARM && flag != KXRT_INIT_COLD) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "KX_fr_init2: unknown flag %u", flag);
  }
  const auto area = kxrt::find_area(dataArea);
  if (!area) {
    return kxrt::refuse(KXRT_E_UNREGISTERED, "KX_fr_init2: data area %p is not registered",
                        static_cast<void*>(dataArea));
  }
  const uint32_t length = kxrt::table_length(table);
  const uint64_t plausible = 4 + uint64_t{5} * area->size();
  if (length < 4 || length > plausible) {
    return kxrt::refuse(KXRT_E_MALFORMED,
                        "KX_fr_init2: table length %u outside 4..%llu for a %zu-byte data area",
                        length, static_cast<unsigned long long>(plausible), area->size());
  }
  const std::span<const uint8_t> entries(table + 4, length - 4);
  const uint32_t size = static_cast<uint32_t>(area->size());

  if (const int32_t status = walk(entries, size, [](const Store&) {}); status != KXRT_OK) {
    return status;
  }
  if (flag == KXRT_INIT_COLD && !reinitialisation) std::fill(area->begin(), area->end(), uint8_t{0});
  walk(entries, size, [&](const Store& s) {
    uint8_t* out = area->data() + s.offset;
    for (uint32_t i = 0; i < s.repeat; ++i, out += s.value.size()) {
      std::copy(s.value.begin(), s.value.end(), out);
    }
  });
  return KXRT_OK;
}
