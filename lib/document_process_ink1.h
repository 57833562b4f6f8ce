// document_process_ink1.h - document processor of serial-head inkjets with
// one ink, and the page entry shared by every derived processor.
#ifndef QUILL_LIB_DOCUMENT_PROCESS_INK1_H_
#define QUILL_LIB_DOCUMENT_PROCESS_INK1_H_

#include <array>
#include <cstdint>

#include "document_process_base.h"

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
  // Applies rotation and offset, counts the page and sends every copy
  // through ProcessPageInternal. Returns the last copy's result, 0 for no
  // copies, -1 for a null raster.
  int ProcessPage(const RASTER_INFO* raster) override;
  // 1B 40, then the multi-emulation sequence when "multi_emul" is set.
  void OutputInitCommand() override;
  // 1B 26 6C 53 n when duplex is on.
  void OutputDuplexCommand() override;

  // Converts one copy of one page into printer output. Returns 0, or -1
  // when the raster is rejected.
  virtual int ProcessPageInternal(const RASTER_INFO* raster, bool last_page, bool back_side);
  // Turns a raster deeper than one bit into a new one-bit raster in *dst
  // (img_p from calloc, freed by the caller; a set bit is ink). Returns false
  // when src is already one bit deep or the conversion failed.
  virtual bool ConvertColorToMono(const RASTER_INFO* src, RASTER_INFO* dst);

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
};

#endif  // QUILL_LIB_DOCUMENT_PROCESS_INK1_H_
