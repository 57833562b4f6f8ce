#include "preview/ink2_stream.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace quillpreview {

namespace {

class Cursor {
 public:
  Cursor(const Bytes& b, size_t pos) : b_(b), pos_(pos) {}
  bool Expect(std::initializer_list<uint8_t> prefix) {
    if (b_.size() - pos_ < prefix.size()) return false;
    if (!std::equal(prefix.begin(), prefix.end(), b_.begin() + static_cast<long>(pos_))) return false;
    pos_ += prefix.size();
    return true;
  }
  bool Text(const char* text) {
    const size_t n = std::strlen(text);
    if (b_.size() - pos_ < n || std::memcmp(&b_[pos_], text, n) != 0) return false;
    pos_ += n;
    return true;
  }
  bool U8(uint8_t* v) {
    if (pos_ >= b_.size()) return false;
    *v = b_[pos_++];
    return true;
  }
  bool U16(uint16_t* v) {
    if (b_.size() - pos_ < 2) return false;
    *v = static_cast<uint16_t>(b_[pos_] | b_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    uint16_t lo, hi;
    if (!U16(&lo) || !U16(&hi)) return false;
    *v = lo | static_cast<uint32_t>(hi) << 16;
    return true;
  }
  bool Decimal(size_t* v) {
    size_t start = pos_;
    *v = 0;
    while (pos_ < b_.size() && b_[pos_] >= '0' && b_[pos_] <= '9') *v = *v * 10 + (b_[pos_++] - '0');
    return pos_ > start;
  }
  bool Take(size_t n, Bytes* out) {
    if (b_.size() - pos_ < n) return false;
    out->insert(out->end(), b_.begin() + static_cast<long>(pos_), b_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  const Bytes& b_;
  size_t pos_;
};

bool Fail(std::string* error, const std::string& what, size_t pos) {
  *error = what + " at byte " + std::to_string(pos);
  return false;
}

}  // namespace

bool ParsePage(const Bytes& stream, size_t* pos, Ink2Page* page, std::string* error,
               size_t* error_offset) {
  *page = Ink2Page{};
  Cursor c(stream, *pos);
  auto fail = [&](const char* what) {
    if (error_offset != nullptr) *error_offset = c.pos();
    return Fail(error, what, c.pos());
  };
  if (!c.Expect({0x1B, 0x26, 0x6C, 0x4C}) || !c.U8(&page->flag)) return fail("page flag");
  if (!c.Expect({0x1B, 0x26, 0x6C, 0x53}) || !c.U8(&page->duplex)) return fail("duplex");
  if (!c.Expect({0x1B, 0x2A, 0x74, 0x52}) || !c.U16(&page->x_res) || !c.U16(&page->y_res)) {
    return fail("resolution");
  }
  if (!c.Expect({0x1B, 0x2A, 0x72, 0x53}) || !c.U16(&page->width)) return fail("width");
  if (!c.Expect({0x1B, 0x2A, 0x72, 0x54}) || !c.U16(&page->height)) return fail("height");
  if (!c.Expect({0x1B, 0x2A, 0x62, 0x4D}) || !c.U8(&page->compression)) {
    return fail("compression");
  }
  if (!c.Expect({0x1B, 0x2A, 0x74, 0x72}) || !c.U8(&page->quality)) return fail("quality");
  if (!c.Expect({0x1B, 0x26, 0x62, 0x4D}) || !c.U8(&page->grey)) return fail("grey mode");
  if (!c.Expect({0x1B, 0x26, 0x6C, 0x58}) || !c.U8(&page->collate) || !c.U16(&page->copies)) {
    return fail("copies");
  }
  if (!c.Expect({0x1B, 0x2A, 0x62, 0x57}) || !c.U32(&page->data_length)) {
    return fail("data length");
  }
  // Data blocks: full blocks until a shorter one ends the object.
  while (c.Text("RasterObject.Data#")) {
    size_t n = 0;
    if (!c.Decimal(&n) || !c.Text("=") || !c.Take(n, &page->object) || !c.Text(";")) {
      return fail("malformed data block");
    }
    page->blocks.push_back(n);
    if (n > 32768) return fail("data block above 32768 bytes");
    if (n < 32768) break;
  }
  if (!c.Expect({0x1B, 0x0C})) return fail("end of page");
  *pos = c.pos();
  return true;
}

bool ParseAndDecodePage(const Bytes& stream, size_t* pos, Ink2Page* page,
                        quillpreview::DcrImage* image, std::string* error, size_t* error_offset) {
  const size_t start = *pos;
  if (!ParsePage(stream, pos, page, error, error_offset)) return false;
  if (error_offset != nullptr) *error_offset = start;  // the object is the page's
  if (page->blocks.empty()) {
    *error = "page without raster object";
    return false;
  }
  return quillpreview::DecodeDcRaster(page->object, image, error);
}

}  // namespace quillpreview
