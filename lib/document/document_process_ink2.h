// document_process_ink2.h - document processor of inkjets that take a page
// language.
//
// The job is framed by the language's reset sequences (1B 45 and the
// universal exit "\e%-12345X" at the start, the exit again at the end); the
// duplex mode goes with every page instead of a document command. Pages run
// through the shared ProcessPage (rotation, offset, page counting, sheet
// sides, one call per copy) and then, unconverted, to PageProcessInk2,
// which does its own colour handling and compression.
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK2_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK2_H_

#include <cstdint>

#include "bands/page_process_ink2.h"
#include "document/document_process_ink1.h"

class DocumentProcessInk2 : public DocumentProcessInk1 {
 public:
  // Ink1 construction (so the Ink1 keys are read once, here), then the
  // "quality", "grey" and "red_black" keys. Requires: param != nullptr.
  explicit DocumentProcessInk2(const CONV_PARAM2* param);
  ~DocumentProcessInk2() override = default;

  // With include_parent, the base update (not Ink1's: later updates re-read
  // only the base keys and this class's own); then "quality", "grey" and
  // "red_black" when param->options is not null.
  void Update(const CONV_PARAM2* param, bool include_parent) override;
  // 1B 45, then 1B 25 2D 31 32 33 34 35 58, as two writes.
  void OutputInitCommand() override;
  // 1B 25 2D 31 32 33 34 35 58.
  void OutputTermCommand() override;
  // Nothing: every page carries its own duplex command.
  void OutputDuplexCommand() override;
  // Sends one copy of a page through a PageProcessInk2, framed by the
  // configured start-page and end-page bytes. Back sides of DUPLEX_VERTICAL
  // documents are turned by 180 degrees in the caller's pixels (once per
  // page: further copies of the same page find them turned already), and
  // red/black mode may rewrite them (PageProcessInk2::SendPage). Returns 0,
  // or -1 without output for a raster with no resolution, no size, no
  // pixels or a pitch shorter than its rows.
  int ProcessPageInternal(const RASTER_INFO* raster, bool last_page, bool back_side) override;

  uint8_t m_Quality = QUALITY_NORMAL1;  // Ink2Quality code sent with every page
  bool m_UseGrey = false;               // pages as one grey plane
  bool m_RedBlack = false;              // colour pages keep only red as colour

 private:
  uint32_t m_TurnedPage = 0;                // m_PageCount of the page last turned in place
  const uint8_t* m_TurnedPixels = nullptr;  // its pixels (copies share them)
};

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK2_H_
