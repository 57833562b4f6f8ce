// dot_commands.h - the printer commands quilldot sends, one function each.
//
// Every function returns the complete bytes of one command, so callers read
// like the command tables and each command reaches the printer stream with
// one write. Multi-byte numbers are little-endian (PutLE16); values wider
// than a field keep their low bits, callers make sure they fit.
#ifndef QUILL_DOTFILTER_DOT_COMMANDS_H_
#define QUILL_DOTFILTER_DOT_COMMANDS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quilldot {

using Bytes = std::vector<uint8_t>;

// Appends the low 16 bits of value to out, low byte first.
void PutLE16(Bytes* out, unsigned value);

// --- Plain control codes -------------------------------------------------
Bytes CarriageReturn();  // CR: 0D
Bytes LineFeed();        // LF: 0A
Bytes FormFeed();        // FF: 0C

// --- Printer set-up ------------------------------------------------------
Bytes EscReset();           // ESC @: 1B 40
Bytes OkiEpsonEmulation();  // ESC { A: 1B 7B 41, OKIDATA printers only
Bytes EscLineSpacing24();   // ESC 3 24: 1B 33 18
// ESC U n: 1B 55 31 (one direction) or 1B 55 30 (both directions).
Bytes EscUnidirectional(bool on);

// --- Bit-image bands -----------------------------------------------------
Bytes EscFeed(uint8_t n);             // ESC J n: 1B 4A n, feed n units
Bytes EscAbsoluteColumn(unsigned pos);  // ESC $ nL nH: 1B 24, column pos
// Density byte of ESC * for a horizontal resolution; false when the
// resolution has none (the command then goes out without it).
bool BitImageDensity(unsigned hres, uint8_t* density);
// ESC * m nL nH data: 1B 2A, the density byte for hres (when it has one),
// the column count and len bytes of column-major image data.
Bytes EscBitImage(unsigned hres, unsigned columns, const uint8_t* data,
                  size_t len);

// --- Receipt printers (model 10) and job-level accessories ---------------
Bytes EscDrawerPulse();     // ESC p 0 255 255: 1B 70 00 FF FF
Bytes GsFeedToBlackMark();  // GS FF: 1D 0C
Bytes EscAlignCenter();     // ESC a 1: 1B 61 31
Bytes EscAlignLeft();       // ESC a 0: 1B 61 30
Bytes FsPrintLogo(uint8_t n);  // FS p n 0: 1C 70 n 00, stored logo n
Bytes GsFullCut();          // GS V A 24: 1D 56 41 18
Bytes GsPartialCut();       // GS V B 24: 1D 56 42 18
Bytes GsPrintAreaWidth(unsigned width);  // GS W nL nH: 1D 57
Bytes GsLeftMargin(unsigned margin);     // GS L nL nH: 1D 4C
// Receipt page set-up block: 1B 1D 1E 04 31 paper B0 10 1B 1D 1F.
Bytes ReceiptPageSetup(uint8_t paper_type);
// Receipt page-end block: 1B 1D 1E 04 32 00 C8 1B 1D 1F.
Bytes ReceiptPageEnd();
// Job bracket of model 1: 1B 1D 1E 06 01 01 1B 1D 1F at the start of a page,
// 1B 1D 1E 06 01 00 1B 1D 1F at the end of the job.
Bytes BracketedJobStart();
Bytes BracketedJobEnd();

// --- Extended (ESC ( x) commands of the 24-pin and raster printers -------
Bytes EscGraphicsMode();         // ESC ( G 1 0 1: 1B 28 47 01 00 01
Bytes EscUnit(uint8_t unit);     // ESC ( U 1 0 u: 1B 28 55 01 00 u
// ESC ( U 5 0 P V H mL mH with base 1440: 1B 28 55 05 00 P V H A0 05.
Bytes EscUnitExtended(uint8_t page, uint8_t vertical, uint8_t horizontal);
Bytes EscPageLength(unsigned length);  // ESC ( C 2 0: 1B 28 43 02 00 nL nH
// ESC ( c 4 0 tL tH nL nH: 1B 28 63 04 00, top and page length.
Bytes EscPageFormat(unsigned top, unsigned length);
Bytes EscMicroweave();                 // ESC ( i 1 0 1: 1B 28 69 01 00 01
Bytes EscDotSize();                    // ESC ( e 2 0 0 1: 1B 28 65 02 00 00 01
Bytes EscAbsoluteVertical(unsigned pos);  // ESC ( V 2 0: 1B 28 56 02 00 pL pH
Bytes EscRelativeVertical(unsigned n);    // ESC ( v 2 0: 1B 28 76 02 00 nL nH

// --- Raster lines --------------------------------------------------------
Bytes EscSelectColour(uint8_t colour);          // ESC r c: 1B 72 c
Bytes EscSelectColourExtended(uint8_t colour);  // ESC ( r 2 0 1 c: 1B 28 72 02 00 01 c
// ESC . c v h 1 nL nH data: 1B 2E, compression type, vertical and horizontal
// step, one row, width in dots, then len bytes of (compressed) line data.
Bytes EscRasterGraphics(uint8_t type, uint8_t ystep, uint8_t xstep,
                        unsigned width_dots, const uint8_t* data, size_t len);
// ESC i c t 1 nL nH 1 0 data: 1B 69, colour, compression type, one bit per
// dot, line length in bytes (uncompressed), one row, then len data bytes.
Bytes EscRasterLine(uint8_t colour, uint8_t type, unsigned line_bytes,
                    const uint8_t* data, size_t len);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_COMMANDS_H_
