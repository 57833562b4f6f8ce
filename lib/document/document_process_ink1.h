// document_process_ink1.h - document processor of serial-head inkjets with
// one ink, and the page entry shared by every derived processor.
//
// The page pipeline: ProcessPage turns and offsets the page, counts it,
// picks the sheet side and sends every copy to ProcessPageInternal (after a
// red/black separation for two-colour processors). ProcessPageInternal makes
// a one-bit page (ConvertColorToMono), finds where the ink is, and drives a
// band generator through the shingling mode of the job.
//
// Derived processors (Ink2, Ink3, Thermal, Dot24) reuse ProcessPage and the
// protected helpers below; those that print differently override
// ProcessPageInternal or only CreatePageProcessor.
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK1_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK1_H_

#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "document/document_process_base.h"
#include "document/ink_sections.h"
#include "support/cancel.h"
#include "support/fi_bitmap.h"

class PageProcessInk1;

class DocumentProcessInk1 : public DocumentProcessBase {
 public:
  // Requires: param != nullptr.
  explicit DocumentProcessInk1(const CONV_PARAM2* param);
  ~DocumentProcessInk1() override = default;

  // With include_parent, the base update first; then the Ink1 keys when
  // param->options is not null.
  void Update(const CONV_PARAM2* param, bool include_parent) override;
  void StartDoc() override;
  void EndDoc() override;
  // Turns and offsets the page ("rotate", "offset"; a half turn and the
  // offset rewrite the caller's pixels in place; a quarter turn works on a
  // copy held by this object until its next quarter turn or its release,
  // and repoints the caller's record (img_p, width, height, pitch) at it),
  // counts it, derives the sheet side (duplex: odd pages front, even pages
  // back and last) and sends it m_Copies times to ProcessPageInternal;
  // processors for which SeparatesRedBlack() is true separate every copy
  // into the double-width red/black image and send that instead. Every copy
  // receives the same pixels. Returns the last copy's result, 0 for no
  // copies, -1 for a null raster or a copy that could not be separated.
  // The job's request-exit callback (CONV_PARAM2.req_exit_cb) is asked
  // before every copy and every few rows while a copy is screened and
  // printed; when it asks to stop, the page ends where it is (a page already
  // begun is still ended, so the sheet leaves the printer), no further copy
  // follows, and the result is -1.
  int ProcessPage(const RASTER_INFO* raster) override;
  // 1B 40, then the multi-emulation sequence when "multi_emul" is set.
  void OutputInitCommand() override;
  // 1B 26 6C 53 n when duplex is on.
  void OutputDuplexCommand() override;

  // Converts one copy of one page into printer output. Must not change the
  // pixels of `raster`: ProcessPage hands the same raster in for every copy.
  // Returns 0, or -1 when the raster is rejected (zero resolution or size,
  // missing pixels, a pitch shorter than a row, an unusable band height, or
  // a page that cannot be made one bit deep) or the job was cancelled
  // (m_Cancel) on its way.
  virtual int ProcessPageInternal(const RASTER_INFO* raster, bool last_page, bool back_side);
  // Turns a raster deeper than one bit into a new one-bit raster in *dst
  // (img_p from calloc, freed by the caller; a set bit is ink; bits after the
  // last pixel of a row are 0). The caller's pixels are not changed. Returns
  // false when src is already one bit deep or the conversion failed.
  virtual bool ConvertColorToMono(const RASTER_INFO* src, RASTER_INFO* dst);

  // True for processors whose pages are separated into a black and a red
  // plane (ConvertToRedBlack) before ProcessPageInternal: Ink3, and Dot24
  // with "dual_color".
  virtual bool SeparatesRedBlack() const { return false; }

 protected:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  // A one-bit page ready for the band generators.
  struct MonoPage {
    RASTER_INFO raster{};                       // one bit per pixel, set bit = ink
    std::unique_ptr<uint8_t, FreeDeleter> own;  // its pixels when they are not the caller's
  };

  // Where the ink of a one-bit page is (see ink_sections.h).
  struct PageLayout {
    std::vector<uint32_t> row_ink;  // set pixels per row
    ContentRange range;             // rows with ink
    std::deque<Section> sections;   // merged vertical sections
  };

  // Checks the raster ("resolution is invalid", "raster size is invalid",
  // "raster pitch is invalid" warnings), makes it one bit deep with
  // ConvertColorToMono, and turns it by 180 degrees when `turn` is set (on
  // a private copy when the caller's raster is already one bit deep).
  // Returns false, with a warning, when the page cannot be printed.
  bool PrepareMonoPage(const RASTER_INFO& raster, bool turn, MonoPage& page);

  // Row ink, content range and merged sections of a one-bit page, with the
  // "ink covering ratio", "content vertical range", "vertical section" and
  // "recalculate sections" records. A processor whose SeparatesRedBlack()
  // is true reports the black (left half) and red (right half) ratios.
  PageLayout MeasurePage(const RASTER_INFO& mono, uint32_t band_height) const;

  // Raster rows one head pass covers: num_pins * y_res / y_unit; 0 when
  // y_unit is 0.
  uint32_t BandHeight(uint16_t y_res) const;

  // The band generator of one page (Ink1: a PageProcessInk1 built from the
  // job's units and head height and the page's resolution, width and the
  // job's page length). ProcessPageInternal then sets m_IsLastPage,
  // m_NoUseEject and m_UseLocPos.
  virtual std::shared_ptr<PageProcessInk1> CreatePageProcessor(const RASTER_INFO& mono,
                                                               bool last_page, bool back_side);

  // Separates `page` into its black and red planes: `image` receives the
  // double-width 24-bit image and `separated` a copy of `page` whose width,
  // pitch, depth and pixels are the image's. Returns false, with a warning,
  // when the page cannot be wrapped or separated.
  static bool SeparateRedBlack(const RASTER_INFO& page, FiBitmap& image, RASTER_INFO& separated);

  // True when ConvertColorToMono makes pages of depth `bpp` one bit deep
  // row by row (StreamToMono): 24- and 32-bit pages screened with the
  // even-toned screen, without a threshold, an ICC profile or DUMP_MONO.
  bool StreamsMono(uint8_t bpp) const;

  // A two-colour page on its way to ProcessPageInternal before its planes
  // exist: `placeholder` describes the separated page exactly as
  // SeparateRedBlack would (double width, 24 bits, the image's pitch) but
  // its pixels are those of `page`; ConvertColorToMono, handed the
  // placeholder, makes the separated rows from `page` as it screens them.
  // Set only for the duration of one ProcessPageInternal call.
  struct PendingSeparation {
    const RASTER_INFO* placeholder = nullptr;
    const RASTER_INFO* page = nullptr;
  };
  PendingSeparation m_PendingSeparation;

  // Cancellation of the page in hand: made from the job's request-exit
  // callback by ProcessPage, counted by the row loops.
  CancelPoll m_Cancel;

  // Writes the time-stamp record (one call of 12 bytes: 1B 1D 1E 10 1D, the
  // stamp as 32-bit little endian, 1B 1D 1F). The stamp is m_TimeStamp when
  // it is at least 900000000, else the current time in seconds.
  void output_timestamp();

 public:
  bool m_NoUseEject = false;      // end pages by feeding to their length instead of a form feed
  uint32_t m_TimeStamp = 0;       // nonzero: time-stamp record before each page
  bool m_PreferUnidir = false;    // unidirectional printing
  uint8_t m_Threshold = 0;        // 1..254: fixed threshold instead of halftoning
  bool m_UseLocPos = false;       // positioned band segments
  bool m_BandHint = false;        // band-height hint per section
  uint8_t m_Dither = 0;           // halftoning method
  bool m_MultiEmul = false;       // extra initialisation sequence
  int32_t m_Rotation = 0;         // page rotation, degrees
  std::array<int, 2> m_Offset{};  // page offset in pixels: horizontal, vertical

 protected:
  std::vector<uint8_t> m_RotationBuffer;  // pixels of the last quarter-turned page of this document
};

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK1_H_
