// bytes.h - the byte buffer every decoder of quillpreview reads.
#ifndef QUILL_PREVIEW_BYTES_H_
#define QUILL_PREVIEW_BYTES_H_

#include <cstdint>
#include <vector>

namespace quillpreview {

// A printer stream, or a piece of one, as it left the printer driver.
using Bytes = std::vector<uint8_t>;

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_BYTES_H_
