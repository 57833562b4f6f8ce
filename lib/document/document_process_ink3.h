// document_process_ink3.h - document processor of serial-head inkjets with
// black and red ink.
//
// Every page is separated into a black plane and a red plane laid side by
// side in one double-width image (ConvertToRedBlack), screened to one bit
// and printed by PageProcessInk3, which sends each band once per colour.
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK3_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK3_H_

#include "document/document_process_ink1.h"

class DocumentProcessInk3 : public DocumentProcessInk1 {
 public:
  // Requires: param != nullptr.
  explicit DocumentProcessInk3(const CONV_PARAM2* param);
  ~DocumentProcessInk3() override = default;

  // The Ink1 update, then "dup_red" when param->options is not null.
  void Update(const CONV_PARAM2* param, bool include_parent) override;
  // Stores the red/black separation of the page (double width) instead of
  // the page itself (width, pitch, depth and pixels of the separation, the
  // other fields of `raster`). A page that cannot be separated (no pixels,
  // a pitch shorter than a row, an unknown depth) is not stored.
  void SaveBackupPage(const RASTER_INFO* raster, bool deflate) override;
  bool SeparatesRedBlack() const override { return true; }

  bool m_DupRed = false;  // print the red pass of every band twice

 protected:
  // A PageProcessInk3; back sides of DUPLEX_VERTICAL documents (turned by
  // 180 degrees) swap the planes, m_DupRed is handed on.
  std::shared_ptr<PageProcessInk1> CreatePageProcessor(const RASTER_INFO& mono, bool last_page,
                                                       bool back_side) override;
};

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_INK3_H_
