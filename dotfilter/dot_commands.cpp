// dot_commands.cpp - byte sequences of quilldot's printer commands.
#include "dot_commands.h"

#include <initializer_list>

namespace quilldot {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t GS = 0x1D;
constexpr uint8_t FS = 0x1C;

// Base unit of the extended unit command: 1/1440 inch.
constexpr unsigned kUnitBase1440 = 1440;

struct DensityEntry {
  unsigned hres;    // horizontal resolution in dpi
  uint8_t density;  // ESC * mode byte
};
constexpr DensityEntry kDensityTable[] = {
    {60, 0x00}, {120, 0x01}, {160, 0x01}, {180, 0x27},
    {203, 0x21}, {240, 0x03}, {360, 0x28},
};

Bytes Seq(std::initializer_list<uint8_t> bytes) { return Bytes(bytes); }

void Append(Bytes* out, const uint8_t* data, size_t len) {
  if (len) out->insert(out->end(), data, data + len);
}

}  // namespace

void PutLE16(Bytes* out, unsigned value) {
  out->push_back(static_cast<uint8_t>(value & 0xFF));
  out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

Bytes CarriageReturn() { return Seq({0x0D}); }
Bytes LineFeed() { return Seq({0x0A}); }
Bytes FormFeed() { return Seq({0x0C}); }

Bytes EscReset() { return Seq({ESC, '@'}); }
Bytes OkiEpsonEmulation() { return Seq({ESC, '{', 'A'}); }
Bytes EscLineSpacing24() { return Seq({ESC, '3', 24}); }
Bytes EscUnidirectional(bool on) { return Seq({ESC, 'U', on ? uint8_t{'1'} : uint8_t{'0'}}); }

Bytes EscFeed(uint8_t n) { return Seq({ESC, 'J', n}); }

Bytes EscAbsoluteColumn(unsigned pos) {
  Bytes out = Seq({ESC, '$'});
  PutLE16(&out, pos);
  return out;
}

bool BitImageDensity(unsigned hres, uint8_t* density) {
  for (const DensityEntry& e : kDensityTable) {
    if (e.hres == hres) {
      *density = e.density;
      return true;
    }
  }
  return false;
}

Bytes EscBitImage(unsigned hres, unsigned columns, const uint8_t* data, size_t len) {
  Bytes out = Seq({ESC, '*'});
  uint8_t density = 0;
  if (BitImageDensity(hres, &density)) out.push_back(density);
  PutLE16(&out, columns);
  Append(&out, data, len);
  return out;
}

Bytes EscDrawerPulse() { return Seq({ESC, 'p', 0x00, 0xFF, 0xFF}); }
Bytes GsFeedToBlackMark() { return Seq({GS, 0x0C}); }
Bytes EscAlignCenter() { return Seq({ESC, 'a', '1'}); }
Bytes EscAlignLeft() { return Seq({ESC, 'a', '0'}); }
Bytes FsPrintLogo(uint8_t n) { return Seq({FS, 'p', n, 0x00}); }
Bytes GsFullCut() { return Seq({GS, 'V', 'A', 24}); }
Bytes GsPartialCut() { return Seq({GS, 'V', 'B', 24}); }

Bytes GsPrintAreaWidth(unsigned width) {
  Bytes out = Seq({GS, 'W'});
  PutLE16(&out, width);
  return out;
}

Bytes GsLeftMargin(unsigned margin) {
  Bytes out = Seq({GS, 'L'});
  PutLE16(&out, margin);
  return out;
}

Bytes ReceiptPageSetup(uint8_t paper_type) {
  return Seq({ESC, GS, 0x1E, 0x04, '1', paper_type, 0xB0, 0x10, ESC, GS, 0x1F});
}

Bytes ReceiptPageEnd() {
  return Seq({ESC, GS, 0x1E, 0x04, '2', 0x00, 0xC8, ESC, GS, 0x1F});
}

Bytes BracketedJobStart() { return Seq({ESC, GS, 0x1E, 0x06, 0x01, 0x01, ESC, GS, 0x1F}); }
Bytes BracketedJobEnd() { return Seq({ESC, GS, 0x1E, 0x06, 0x01, 0x00, ESC, GS, 0x1F}); }

Bytes EscGraphicsMode() { return Seq({ESC, '(', 'G', 0x01, 0x00, 0x01}); }
Bytes EscUnit(uint8_t unit) { return Seq({ESC, '(', 'U', 0x01, 0x00, unit}); }

Bytes EscUnitExtended(uint8_t page, uint8_t vertical, uint8_t horizontal) {
  Bytes out = Seq({ESC, '(', 'U', 0x05, 0x00, page, vertical, horizontal});
  PutLE16(&out, kUnitBase1440);
  return out;
}

Bytes EscPageLength(unsigned length) {
  Bytes out = Seq({ESC, '(', 'C', 0x02, 0x00});
  PutLE16(&out, length);
  return out;
}

Bytes EscPageFormat(unsigned top, unsigned length) {
  Bytes out = Seq({ESC, '(', 'c', 0x04, 0x00});
  PutLE16(&out, top);
  PutLE16(&out, length);
  return out;
}

Bytes EscMicroweave() { return Seq({ESC, '(', 'i', 0x01, 0x00, 0x01}); }
Bytes EscDotSize() { return Seq({ESC, '(', 'e', 0x02, 0x00, 0x00, 0x01}); }

Bytes EscAbsoluteVertical(unsigned pos) {
  Bytes out = Seq({ESC, '(', 'V', 0x02, 0x00});
  PutLE16(&out, pos);
  return out;
}

Bytes EscRelativeVertical(unsigned n) {
  Bytes out = Seq({ESC, '(', 'v', 0x02, 0x00});
  PutLE16(&out, n);
  return out;
}

Bytes EscSelectColour(uint8_t colour) { return Seq({ESC, 'r', colour}); }
Bytes EscSelectColourExtended(uint8_t colour) {
  return Seq({ESC, '(', 'r', 0x02, 0x00, 0x01, colour});
}

Bytes EscRasterGraphics(uint8_t type, uint8_t ystep, uint8_t xstep, unsigned width_dots,
                        const uint8_t* data, size_t len) {
  Bytes out = Seq({ESC, '.', type, ystep, xstep, 0x01});
  PutLE16(&out, width_dots);
  Append(&out, data, len);
  return out;
}

Bytes EscRasterLine(uint8_t colour, uint8_t type, unsigned line_bytes, const uint8_t* data,
                    size_t len) {
  Bytes out = Seq({ESC, 'i', colour, type, 0x01});
  PutLE16(&out, line_bytes);
  out.push_back(0x01);
  out.push_back(0x00);
  Append(&out, data, len);
  return out;
}

}  // namespace quilldot
