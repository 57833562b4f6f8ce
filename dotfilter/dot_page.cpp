// dot_page.cpp - page geometry, header checks and the page and job commands.
#include "dot_page.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dot_band.h"
#include "dot_commands.h"
#include "dot_options.h"
#include "dot_output.h"

namespace quilldot {
namespace {

constexpr unsigned kInterleaveBands = 144;      // vertical dpi interleaving model 0
constexpr unsigned kInterleaveBracketed = 360;  // vertical dpi interleaving model 1
constexpr int kReceiptChunkColumns = 40;
constexpr unsigned kReceiptNarrowWidth = 816;  // widths up to this get the margin shift
constexpr int kReceiptMarginShift = 24;
constexpr unsigned kMicroweaveDpi = 720;
constexpr uint8_t kUnit360 = 10;  // ESC ( U unit 10/3600 inch
constexpr int kLogoEveryPage = 101;  // Logo n >= 101: logo n - 100 on every page

// Limits of what the commands can carry.
constexpr unsigned kMaxWidthDots = 65535;        // 16-bit column counts and positions
constexpr unsigned kMaxBandRows = 255;           // ESC J takes one byte
constexpr unsigned kMaxBytesPerLine = 1u << 20;  // a row far beyond any printer
constexpr unsigned kMaxEscDotLineBytes = 65535 / 8;  // ESC . carries the width in dots
constexpr unsigned kMaxEscILineBytes = 65535;        // ESC i carries the width in bytes

// Pixels along a side of kMaxSideMm at dpi dots per inch.
uint64_t MaxSidePixels(unsigned dpi) { return uint64_t{dpi} * kMaxSideMm * 10 / 254; }

// Paper feed past the cutter, by model (empty for models without one).
void FeedPastCutter() {
  if (Model == kModelReceipt) {
    Emit(EscFeed(0xDE));
  } else if (Model == kModelBands) {
    Emit(EscFeed(0xFA));
    Emit(EscFeed(0x0A));
  }
}

enum class CutAction { kPartialCut, kFullCut, kFeed };
struct CutRule {
  int method;       // value of the "Cutting" option
  bool every_page;  // after each page (else at the job end)
  CutAction action;
};
constexpr CutRule kCutRules[] = {
    {1, false, CutAction::kPartialCut}, {2, false, CutAction::kFullCut},
    {3, false, CutAction::kFeed},       {5, true, CutAction::kPartialCut},
    {6, true, CutAction::kFullCut},     {7, true, CutAction::kFeed},
};

void WriteCut(bool every_page) {
  if (!HasCutter) return;
  for (const CutRule& rule : kCutRules) {
    if (rule.method != CuttingMethod || rule.every_page != every_page) continue;
    switch (rule.action) {
      case CutAction::kPartialCut: Emit(GsPartialCut()); break;
      case CutAction::kFullCut: Emit(GsFullCut()); break;
      case CutAction::kFeed: FeedPastCutter(); break;
    }
  }
}

// Drawer and black-mark options: when the action happens.
constexpr int kAtJobEnd = 3;

// The stored value of the header's colour space. A header comes from the
// raster stream as it is, so the field may hold any 32-bit value, and
// loading one outside the enum's range as the enum is undefined
// behaviour: the bits are copied out instead.
uint32_t StoredColorSpace(const CUPS_PAGE_HEADER& header) {
  uint32_t value;
  static_assert(sizeof header.cupsColorSpace == sizeof value, "a 32-bit header field");
  std::memcpy(&value, &header.cupsColorSpace, sizeof value);
  return value;
}

int PlanesOf(uint32_t space) {
  switch (space) {
    case CUPS_CSPACE_CMY: return 3;
    case CUPS_CSPACE_KCMY: return 4;
    case CUPS_CSPACE_KCMYcm: return 6;
    default: return 1;
  }
}

// Truncates a length in dots computed in double precision to the 16-bit
// field it goes into (negative values become 0).
unsigned DotsField(double dots) {
  if (!(dots > 0)) return 0;
  return static_cast<unsigned>(static_cast<unsigned long long>(dots) & 0xFFFF);
}

void WriteBracketedSetup(const CUPS_PAGE_HEADER* header) {
  const unsigned hres = header->HWResolution[0];
  Emit(BracketedJobStart());
  Emit(EscUnidirectional(hres == 360 || hres == 240));
  Emit(EscUnit(kUnit360));
  Emit(EscPageLength(static_cast<unsigned>(header->PageSize[1] * 360ULL / 72)));
}

void WriteReceiptSetup(const CUPS_PAGE_HEADER* header) {
  const unsigned width = header->cupsWidth;
  if (MaxWidth > 0 && width <= static_cast<unsigned>(MaxWidth)) {
    int margin = (MaxWidth - static_cast<int>(width)) / 2;
    if (width <= kReceiptNarrowWidth && margin >= kReceiptMarginShift)
      margin -= kReceiptMarginShift;
    Emit(GsPrintAreaWidth(width));
    Emit(GsLeftMargin(static_cast<unsigned>(margin)));
  }
  Emit(ReceiptPageSetup(static_cast<uint8_t>(PaperType)));
}

void WriteRasterSetup(const ppd_file_t* ppd, const CUPS_PAGE_HEADER* header) {
  const unsigned hres = header->HWResolution[0];
  const unsigned vres = header->HWResolution[1];
  Emit(EscGraphicsMode());
  if (Model <= kLastEscDotModel)
    Emit(EscUnit(static_cast<uint8_t>(3600 / vres)));
  else
    Emit(EscUnitExtended(static_cast<uint8_t>(1440 / vres), static_cast<uint8_t>(1440 / vres),
                         static_cast<uint8_t>(1440 / hres)));
  const unsigned length = DotsField(header->PageSize[1] * static_cast<double>(vres) / 72.0);
  Emit(EscPageLength(length));
  // The top margin comes from the PPD's second page size; without one it
  // is 0.
  unsigned top = 0;
  if (ppd && ppd->num_sizes >= 2)
    top = DotsField((static_cast<double>(ppd->sizes[1].length) - ppd->sizes[1].top) * vres / 72.0);
  Emit(EscPageFormat(top, length));
  if (vres == kMicroweaveDpi) {
    Emit(EscMicroweave());
    Emit(EscDotSize());
  }
  Emit(EscAbsoluteVertical(0));
}

void AllocatePageBuffers(const CUPS_PAGE_HEADER* header) {
  const size_t width = header->cupsWidth;
  const size_t bytes_per_line = header->cupsBytesPerLine;
  const size_t plane_bytes = bytes_per_line / static_cast<size_t>(NumPlanes);
  RowBuffer.assign(bytes_per_line, 0);
  // Plane i starts at i * cupsBytesPerLine / NumPlanes; each is plane_bytes
  // long, so even a row that does not divide evenly is never read past.
  for (int i = 0; i < kMaxPlanes; ++i)
    Planes[i] = i < NumPlanes
                    ? RowBuffer.data() + static_cast<size_t>(i) * bytes_per_line / NumPlanes
                    : nullptr;
  Feed = 0;
  // CompBuffer also receives compressed raster lines, so it is never
  // smaller than the worst PackBits output of one plane.
  if (header->cupsCompression || DotBytes)
    CompBuffer.assign(std::max(2 * width, PackBitsBound(plane_bytes)), 0);
  else
    CompBuffer.clear();
  if (DotBytes) {
    BandBuffer.assign(static_cast<size_t>(DotBytes) * width, 0);
    LineBuffers[0] = BandBuffer.data();
    LineBuffers[1] = LineBuffers[0] + static_cast<size_t>(Interleaved ? DotBytes / 2 : DotBytes) * width;
  } else {
    BandBuffer.clear();
    LineBuffers[0] = LineBuffers[1] = nullptr;
  }
  DotBit = 128;
  GroupRow = 0;
  LineCount = EvenOffset = OddOffset = BlankRowCnt = 0;
}

template <typename T>
void Release(std::vector<T>* v) {
  std::vector<T>().swap(*v);
}

}  // namespace

PageGeometry GetPageGeometry(int model, const CUPS_PAGE_HEADER& header) {
  PageGeometry g{0, 0, 0, PlanesOf(StoredColorSpace(header))};
  const int band_bytes = static_cast<int>(std::min(header.cupsRowCount, 0xFFFFu) / 8);
  switch (model) {
    case kModelBands:
      g.interleaved = header.HWResolution[1] == kInterleaveBands;
      g.dot_bytes = band_bytes;
      break;
    case kModelBracketed:
      g.interleaved = header.HWResolution[1] == kInterleaveBracketed;
      g.dot_bytes = band_bytes;
      break;
    case kModelReceipt:
      g.dot_columns = kReceiptChunkColumns;
      g.dot_bytes = band_bytes;
      break;
    default:
      break;
  }
  return g;
}

bool CheckPageHeader(int model, const CUPS_PAGE_HEADER& header, std::string* why) {
  char text[256];
  auto refuse = [&](const char* format, auto... args) {
    snprintf(text, sizeof text, format, args...);
    *why = text;
    return false;
  };
  if (header.cupsWidth == 0 || header.cupsWidth > kMaxWidthDots)
    return refuse("cupsWidth %u is outside 1..%u", header.cupsWidth, kMaxWidthDots);
  if (header.cupsBytesPerLine == 0 || header.cupsBytesPerLine > kMaxBytesPerLine)
    return refuse("cupsBytesPerLine %u is outside 1..%u", header.cupsBytesPerLine,
                  kMaxBytesPerLine);
  const unsigned hres = header.HWResolution[0];
  const unsigned vres = header.HWResolution[1];
  if (hres > kMaxResolution || vres > kMaxResolution)
    return refuse("resolution %ux%u is above %u dpi", hres, vres, kMaxResolution);
  // Bands do not divide by the resolution, so a zero one is measured at the
  // finest.
  const uint64_t max_w = MaxSidePixels(hres ? hres : kMaxResolution);
  const uint64_t max_h = MaxSidePixels(vres ? vres : kMaxResolution);
  if (header.cupsWidth > max_w || header.cupsHeight > max_h)
    return refuse("page of %ux%u dots at %ux%u dpi has a side longer than %u mm",
                  header.cupsWidth, header.cupsHeight, hres, vres, kMaxSideMm);
  if (uint64_t{header.cupsHeight} * header.cupsBytesPerLine > kMaxPageBytes)
    return refuse("page of %u rows of %u bytes is larger than %llu bytes", header.cupsHeight,
                  header.cupsBytesPerLine, static_cast<unsigned long long>(kMaxPageBytes));
  if (header.NumCopies > kMaxCopies)
    return refuse("%u copies are more than %u", header.NumCopies, kMaxCopies);
  const PageGeometry g = GetPageGeometry(model, header);
  if (g.dot_bytes) {
    // Bands take their dots from the start of the row (the first plane), one
    // bit or one byte per pixel.
    const unsigned need =
        header.cupsBitsPerColor == 1 ? (header.cupsWidth + 7) / 8 : header.cupsWidth;
    if (header.cupsBytesPerLine < need)
      return refuse("cupsBytesPerLine %u is smaller than a row of %u pixels needs (%u)",
                    header.cupsBytesPerLine, header.cupsWidth, need);
    if (header.cupsRowCount > kMaxBandRows || header.cupsRowFeed > kMaxBandRows ||
        header.cupsRowStep > kMaxBandRows)
      return refuse("band of cupsRowCount %u, cupsRowFeed %u, cupsRowStep %u exceeds %u rows",
                    header.cupsRowCount, header.cupsRowFeed, header.cupsRowStep, kMaxBandRows);
    if (g.interleaved && g.dot_bytes % 2 != 0)
      return refuse("cupsRowCount %u cannot be split into two interleaved passes",
                    header.cupsRowCount);
  } else {
    // Raster lines divide by both resolutions for their steps and units.
    if (header.HWResolution[0] == 0 || header.HWResolution[1] == 0)
      return refuse("resolution %ux%u has a zero", header.HWResolution[0],
                    header.HWResolution[1]);
    const unsigned plane_bytes = header.cupsBytesPerLine / static_cast<unsigned>(g.num_planes);
    const unsigned max_line = model > kLastEscDotModel ? kMaxEscILineBytes : kMaxEscDotLineBytes;
    if (plane_bytes > max_line)
      return refuse("raster line of %u bytes exceeds the %u bytes a command can carry",
                    plane_bytes, max_line);
  }
  return true;
}

bool StartPage(const ppd_file_t* ppd, const CUPS_PAGE_HEADER* header) {
  if (ppd && ppd->nickname && strstr(ppd->nickname, "OKIDATA")) Emit(OkiEpsonEmulation());
  Emit(EscReset());
  Interleaved = 0;
  switch (Model) {
    case kModelBands: Emit(EscLineSpacing24()); break;
    case kModelBracketed: WriteBracketedSetup(header); break;
    case kModelReceipt: WriteReceiptSetup(header); break;
    default: WriteRasterSetup(ppd, header); break;
  }
  const PageGeometry g = GetPageGeometry(Model, *header);
  DotBytes = g.dot_bytes;
  DotColumns = g.dot_columns;
  Interleaved = g.interleaved;
  Shingling = 0;
  NumPlanes = g.num_planes;
  try {
    AllocatePageBuffers(header);
  } catch (const std::bad_alloc&) {
    Message("ERROR: Unable to allocate memory!\n");
    FlushOutput();
    return false;
  }
  if (LogoMethod >= kLogoEveryPage) WriteLogo(LogoMethod - 100);
  return true;
}

void EndPage(const CUPS_PAGE_HEADER* header) {
  if (DotBytes) FlushHeldRows(header);
  if (Model != kModelBands && Model != kModelReceipt) Emit(FormFeed());
  WriteCut(/*every_page=*/true);
  if (Model == kModelReceipt && MaxWidth > 0) Emit(ReceiptPageEnd());
  FlushOutput();
  Release(&RowBuffer);
  Release(&CompBuffer);
  Release(&BandBuffer);
  for (uint8_t*& p : Planes) p = nullptr;
  LineBuffers[0] = LineBuffers[1] = nullptr;
}

void EndDoc(const CUPS_PAGE_HEADER* header) {
  WriteCut(/*every_page=*/false);
  if (HasDrawer && DrawerMethod == kAtJobEnd) Emit(EscDrawerPulse());
  if (HasBlackMark && BlackMarkMethod == kAtJobEnd) Emit(GsFeedToBlackMark());
  if (Model == kModelBracketed) Emit(BracketedJobEnd());
  FlushOutput();
}

}  // namespace quilldot
