// ink2_stream.h - reads the page-language output back into its parts.
#ifndef QUILL_PREVIEW_INK2_STREAM_H_
#define QUILL_PREVIEW_INK2_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "preview/bytes.h"
#include "preview/dcraster_decoder.h"

namespace quillpreview {

// One page: the setup commands, the data blocks and the form feed.
struct Ink2Page {
  uint8_t flag = 0xFF;          // page flag: 00 last, 01 middle
  uint8_t duplex = 0xFF;
  uint16_t x_res = 0, y_res = 0;
  uint16_t width = 0, height = 0;
  uint8_t compression = 0;
  uint8_t quality = 0xFF;
  uint8_t grey = 0xFF;
  uint8_t collate = 0xFF;
  uint16_t copies = 0;
  uint32_t data_length = 0;
  std::vector<size_t> blocks;   // data bytes of each "RasterObject.Data" block
  Bytes object;                 // the blocks' data, concatenated
};

// Parses one page starting at *pos: the ten setup commands in their order,
// data blocks (full ones of 32768 bytes, ended by a shorter one) and
// 1B 0C. On success advances *pos past the page; otherwise returns false
// with *error set and, when error_offset is not null, the offset of the
// byte that broke the page in *error_offset.
bool ParsePage(const Bytes& stream, size_t* pos, Ink2Page* page, std::string* error,
               size_t* error_offset = nullptr);

// Parses the page at *pos and decodes its raster object. A raster object
// that does not decode reports the page's first byte as *error_offset.
bool ParseAndDecodePage(const Bytes& stream, size_t* pos, Ink2Page* page,
                        quillpreview::DcrImage* image, std::string* error,
                        size_t* error_offset = nullptr);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_INK2_STREAM_H_
