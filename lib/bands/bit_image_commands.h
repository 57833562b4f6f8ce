// bit_image_commands.h - commands shared by the thermal (ESC/POS) and 24-pin
// (ESC/P) page processors.
//
// Each helper returns exactly the bytes of one command, so the band routines
// read like the command tables and send each command with one write. Numbers
// are little-endian (PutLE16).
#ifndef QUILL_LIB_BANDS_BIT_IMAGE_COMMANDS_H_
#define QUILL_LIB_BANDS_BIT_IMAGE_COMMANDS_H_

#include <cstdint>
#include <vector>

#include "bands/page_process_base.h"

namespace bit_image {

using Command = std::vector<uint8_t>;

// ESC @: initialise the printer.
inline Command Initialize() { return {0x1B, 0x40}; }

// ESC * m nL nH: bit image of `columns` columns in mode `mode`; the column
// data follow as a separate write.
inline Command BitImageHeader(uint8_t mode, uint32_t columns) {
  Command c{0x1B, 0x2A, mode};
  PutLE16(c, columns);
  return c;
}

// ESC $ nL nH: absolute horizontal position in command units.
inline Command HorizontalPosition(uint32_t position) {
  Command c{0x1B, 0x24};
  PutLE16(c, position);
  return c;
}

// CR: back to the left edge after a band.
inline Command CarriageReturn() { return {0x0D}; }

// Index of the first column of [first, end) that holds a nonzero byte, or
// `end` when there is none. Columns are `column_bytes` bytes each.
inline uint32_t NextInkedColumn(const uint8_t* band, uint16_t column_bytes, uint32_t first,
                                uint32_t end) {
  const uint8_t* p = band + static_cast<size_t>(first) * column_bytes;
  const uint8_t* stop = band + static_cast<size_t>(end) * column_bytes;
  while (p < stop && *p == 0) ++p;
  if (p == stop) return end;
  return static_cast<uint32_t>((p - band) / column_bytes);
}

// Index of the first column of [first, end) whose bytes are all zero, or
// `end` when there is none.
inline uint32_t NextBlankColumn(const uint8_t* band, uint16_t column_bytes, uint32_t first,
                                uint32_t end);

// True when column `column` has any nonzero byte.
inline bool ColumnInked(const uint8_t* band, uint16_t column_bytes, uint32_t column) {
  const uint8_t* p = band + static_cast<size_t>(column) * column_bytes;
  for (uint16_t i = 0; i < column_bytes; ++i) {
    if (p[i] != 0) return true;
  }
  return false;
}

inline uint32_t NextBlankColumn(const uint8_t* band, uint16_t column_bytes, uint32_t first,
                                uint32_t end) {
  for (uint32_t c = first; c < end; ++c) {
    if (!ColumnInked(band, column_bytes, c)) return c;
  }
  return end;
}

}  // namespace bit_image

#endif  // QUILL_LIB_BANDS_BIT_IMAGE_COMMANDS_H_
