// document_process_thermal.h - document processor of thermal receipt and
// label printers.
//
// Keeps the whole document cycle of DocumentProcessInk1 (options, start and
// end commands, copies and sides, rotation and offset, the grey-to-mono
// conversion) and prints each page top to bottom through a
// PageProcessThermal in 24-dot double-density bit images. Reads two options
// of its own: "left_margin" and "max_width" (dots).
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_THERMAL_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_THERMAL_H_

#include <cstdint>
#include <memory>

#include "document/document_process_ink1.h"

class DocumentProcessThermal : public DocumentProcessInk1 {
 public:
  // Requires: param != nullptr. Reads the options of `param` once more for
  // the keys of this class.
  explicit DocumentProcessThermal(const CONV_PARAM2* param);

  // With include_parent, DocumentProcessInk1::Update(param, true) first;
  // then "left_margin" and "max_width" when param->options is not null (an
  // absent key keeps the field).
  void Update(const CONV_PARAM2* param, bool include_parent) override;

  // Prints one copy of one page: 0 when printed, -1 when the raster is
  // rejected (nothing is written then). Every shingling mode prints as mode
  // 0 (these printers have no shingled passes); a nonzero mode is logged
  // once per page as "unsupported shingling".
  int ProcessPageInternal(const RASTER_INFO* raster, bool last_page, bool back_side) override;

  uint32_t m_LeftMargin = 0;  // left margin in dots for the page processor; 0: derived there
  uint32_t m_MaxWidth = 0;    // printable width of the mechanism in dots; 0: not set

 protected:
  // A PageProcessThermal for the page (both densities doubled) with this
  // processor's margin, width, eject and positioning flags and `last_page`.
  std::shared_ptr<PageProcessInk1> CreatePageProcessor(const RASTER_INFO& mono, bool last_page,
                                                       bool back_side) override;
};

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_THERMAL_H_
