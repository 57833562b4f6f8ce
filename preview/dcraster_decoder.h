// dcraster_decoder.h - reads token-deflate raster objects back into pixels.
//
// The oracle of the raster encoder and of the page-language output: it
// parses the header lines, inflates the zlib stream, walks the row tokens
// and undoes the format's inversion, so a decoded image holds the values the
// encoder was given (plane by plane, one byte per pixel). It is written from
// the stream rules alone and shares no code with the encoder.
#ifndef QUILL_PREVIEW_DCRASTER_DECODER_H_
#define QUILL_PREVIEW_DCRASTER_DECODER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillpreview {

using DcrBytes = std::vector<uint8_t>;

struct DcrToken {
  uint16_t count = 0;                // pixels covered
  uint16_t type = 0;                 // 0 literal, 1 blank run, 2 colour run
  std::array<uint8_t, 4> value{};    // colour run: the four stored bytes
  DcrBytes literal;                  // literal: the stored bytes
};

struct DcrImage {
  std::vector<std::string> header;         // header lines up to "ImageBegin", without '\n'
  int width = 0;                           // from "ImageSize"
  int height = 0;
  std::string format;                      // "K", "K+O", "pRGB", "iRGB", "pRGB+O", "iRGB+O", "pCMYK"
  bool white_is_0 = false;                 // "WhiteIs000" present
  int colours = 0;                         // colour planes of the format
  bool has_object = false;                 // object plane after the colours
  std::vector<std::vector<DcrToken>> rows; // tokens of every row
  std::vector<DcrBytes> planes;            // planes[p][y * width + x]: the encoder's input values
  DcrBytes tokens;                         // the inflated token stream
  size_t zlib_size = 0;                    // bytes of the zlib stream

  int Channels() const { return colours + (has_object ? 1 : 0); }
  uint8_t At(int plane, int x, int y) const {
    return planes[static_cast<size_t>(plane)][static_cast<size_t>(y) * width + x];
  }
};

// Decodes one complete object (header, zlib stream, "ImageEnd\n", nothing
// after it). `blank_object_code` is the object-plane value of blank runs,
// which the stream does not carry. Returns false and sets *error when any
// rule of the stream is broken.
bool DecodeDcRaster(const DcrBytes& stream, DcrImage* image, std::string* error,
                    uint8_t blank_object_code = 0);

// Checks how an object was split into callback deliveries: every header
// line and "ImageEnd\n" is exactly one call, and no call carries more than
// 32768 bytes. Returns false and sets *error otherwise.
bool CheckDcRasterCalls(const std::vector<DcrBytes>& calls, std::string* error);

// Collects encoder output, one entry per callback call.
class DcrCollector {
 public:
  // For dcraster_create_with_context, with the collector as context.
  static void Callback(void* context, int size, unsigned char* data);
  // For dcraster_create: appends to the collector made current by
  // SetCurrent (tests run one encoder through it at a time).
  static void GlobalCallback(int size, unsigned char* data);
  static void SetCurrent(DcrCollector* collector);

  const std::vector<DcrBytes>& Calls() const { return calls_; }
  DcrBytes All() const;
  void Clear() { calls_.clear(); }

 private:
  std::vector<DcrBytes> calls_;
};

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_DCRASTER_DECODER_H_
