// document_process_dot24.h - document processor of 24-pin dot-matrix
// printers, optionally with a two-colour ribbon.
//
// Keeps the whole document cycle of DocumentProcessInk1 and prints each
// page top to bottom through a PageProcessDot24. With "dual_color" every
// page is separated into a black and a second-colour plane side by side
// (ConvertToRedBlack) before it reaches ProcessPageInternal, and the page
// processor prints each band once per ribbon colour.
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_DOT24_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_DOT24_H_

#include <memory>

#include "document/document_process_ink1.h"

class DocumentProcessDot24 : public DocumentProcessInk1 {
 public:
  // Requires: param != nullptr. Reads the options of `param` once more for
  // the key of this class.
  explicit DocumentProcessDot24(const CONV_PARAM2* param);

  // With include_parent, DocumentProcessInk1::Update(param, true) first;
  // then "dual_color" when param->options is not null (an absent key keeps
  // the field).
  void Update(const CONV_PARAM2* param, bool include_parent) override;

  // Without "dual_color", the base operation. With it, the page is stored
  // in its separated form: a copy of the record whose pixels, width, pitch
  // and depth are those of the double-width two-plane image. A page that
  // cannot be separated is not stored (warning).
  void SaveBackupPage(const RASTER_INFO* raster, bool deflate) override;

  // Prints one copy of one page: 0 when printed, -1 when the raster is
  // rejected (nothing is written then). Every shingling mode prints as mode
  // 0; a nonzero mode is logged once per page as "unsupported shingling".
  // The last partial band is sent without a feed of its own. A two-plane
  // back side turned by 180 degrees keeps black in the black plane.
  int ProcessPageInternal(const RASTER_INFO* raster, bool last_page, bool back_side) override;

  // True with "dual_color": pages arrive separated.
  bool SeparatesRedBlack() const override { return m_DualColor; }

  bool m_DualColor = false;  // print a black and a second-colour plane

 protected:
  // A PageProcessDot24 at the page's resolution with this processor's
  // colour, eject and positioning flags and `last_page`.
  std::shared_ptr<PageProcessInk1> CreatePageProcessor(const RASTER_INFO& mono, bool last_page,
                                                       bool back_side) override;
};

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_DOT24_H_
