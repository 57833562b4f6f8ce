// trad_page.h - the page steps shared by the thermal and 24-pin document
// processors, which print every page top to bottom in one go (no sections,
// no shingled passes).
#ifndef QUILL_LIB_DOCUMENT_TRAD_PAGE_H_
#define QUILL_LIB_DOCUMENT_TRAD_PAGE_H_

#include <cstdint>

#include "bands/page_process_ink1.h"
#include "document/ink_sections.h"
#include "quill/libquill.h"
#include "support/cancel.h"

namespace trad_page {

// Counts the ink of every row of the one-bit page `mono`, logs "ink
// covering ratio: %.2f%%" and "content vertical range: %u-%u", and returns
// the rows that hold ink (ink_sections.h).
ContentRange MeasureContent(const RASTER_INFO& mono);

// Logs "shingling: <mode>", and for a nonzero mode the warning
// "unsupported shingling": these printers print every page as mode 0.
void CheckShingling(uint16_t mode);

// Drives `pp` over rows [range.top, range.bottom) of `mono`: StartPage,
// OutputFeedGfx(range.top), OutputDirection(1) when `unidirectional`, every
// row with OutputLine(row, true), FlushLines(flush_feed), EndPage. When
// `cancel` (may be null; it counts every row) asks to stop, the rows end
// there and the page is flushed and ended as after its last row.
// Requires: mono is one bit deep and its width is pp's m_Width.
void PrintRows(PageProcessInk1& pp, const RASTER_INFO& mono, ContentRange range,
               bool unidirectional, bool flush_feed, CancelPoll* cancel);

// Exchanges the left and right halves of every row of a one-bit page of
// even width (the two planes of a separated page), bit exact.
void SwapPlanes(RASTER_INFO& mono);

}  // namespace trad_page

#endif  // QUILL_LIB_DOCUMENT_TRAD_PAGE_H_
