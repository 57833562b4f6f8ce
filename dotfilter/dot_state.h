// dot_state.h - the state of one quilldot job.
//
// quilldot prints one job at a time per thread, so its printer
// capabilities, job options and the assembly state of the current page live
// in plain variables shared by the job, page and band functions. They are
// thread-local: the filter process has one thread and one job, and a host
// that runs several jobs at once (the printer application runs each job on
// a thread of its own) gets a separate set per thread, so that two printers
// printing at once never see each other's state. Everything starts at zero;
// the page buffers are owned here and live from StartPage to EndPage.
#ifndef QUILL_DOTFILTER_DOT_STATE_H_
#define QUILL_DOTFILTER_DOT_STATE_H_

#include <csignal>
#include <cstdint>
#include <vector>

#include <cups/raster.h>

namespace quilldot {

// The CUPS page header record as quilldot names it.
using CUPS_PAGE_HEADER = cups_page_header2_t;

constexpr int kMaxPlanes = 6;

// Command families by PPD model number; every other model prints raster
// lines.
constexpr int kModelBands = 0;      // bit-image bands, line spacing 24, 144-dpi interleave
constexpr int kModelBracketed = 1;  // bands inside job brackets, 360-dpi interleave
constexpr int kModelReceipt = 10;   // receipt printer, sections in 40-column chunks
constexpr int kLastEscDotModel = 3; // raster models up to 3 use ESC . and ESC ( U 1 0

// --- Printer capabilities (PPD) -------------------------------------------
extern thread_local int Model;         // PPD ModelNumber: 0, 1, 10 or a raster model
extern thread_local int HasCutter;     // "add-ons" "cutter" starts with 1
extern thread_local int HasDrawer;     // "add-ons" "drawer" starts with 1
extern thread_local int HasBlackMark;  // "add-ons" "blackmark" starts with 1
extern thread_local int MaxWidth;      // "add-ons" "maxwidth": printable dots, 0 unknown

// --- Job options (marked PPD choices; INT_MIN when nothing is marked) -----
extern thread_local int CuttingMethod;
extern thread_local int DrawerMethod;
extern thread_local int BlackMarkMethod;
extern thread_local int LogoMethod;
extern thread_local int PaperType;

// Set to 1 by the SIGTERM handler; polled between rows, copies and pages.
extern thread_local volatile sig_atomic_t Canceled;

// errno of the first failed write or flush of the printer stream (0: none);
// set by Emit and FlushOutput (dot_output.h). Polled with Canceled.
extern thread_local int OutputError;

// The job is to stop: cancelled, or the printer stream failed.
inline bool JobStopped() { return Canceled != 0 || OutputError != 0; }

// --- Current page ---------------------------------------------------------
extern thread_local int NumPlanes;                 // colour planes of a raster row
extern thread_local uint8_t* Planes[kMaxPlanes];   // plane i of the current row (in RowBuffer)
extern thread_local std::vector<uint8_t> RowBuffer;  // one raster row, cupsBytesPerLine bytes

extern thread_local int DotBytes;     // bytes per band column (cupsRowCount / 8); 0 in raster mode
extern thread_local int DotColumns;   // width of the blank-test chunks of model 10
extern thread_local int Interleaved;  // band printed as two passes of alternate rows
extern thread_local int Shingling;    // always 0

// Band mode: per column the byte being filled (a second one at offset
// cupsWidth when interleaved). Raster mode: the compressed line.
extern thread_local std::vector<uint8_t> CompBuffer;
// The band, DotBytes bytes per column, column after column.
extern thread_local std::vector<uint8_t> BandBuffer;
// LineBuffers[0] is the band (even rows when interleaved); LineBuffers[1]
// the odd rows when interleaved.
extern thread_local uint8_t* LineBuffers[2];

extern thread_local int DotBit;       // bit of the current row in the byte being filled
extern thread_local int GroupRow;     // rows collected in the current 8-row group (0..7)
extern thread_local int LineCount;    // completed 8-row groups of the page
extern thread_local int EvenOffset;   // byte row of the band the next group fills
extern thread_local int OddOffset;    // kept for the record; always 0
extern thread_local int BlankRowCnt;  // blank bands not yet fed
extern thread_local long Feed;        // raster mode: rows since the last printed row

// Plane to colour number of the raster commands.
constexpr uint8_t ctable[kMaxPlanes] = {0, 2, 1, 4, 18, 17};

// Back to the all-zero state of a fresh process, the buffers' memory
// released (RunFilter calls it before and after every job, so several jobs
// can run in one process).
void ResetState();

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_STATE_H_
