// make_dense_page.cpp - writes the dense photo-like page of dense_page.h as a
// one-page US Letter PDF: one 3060 x 3960 DeviceRGB image (360 dpi) covering
// the whole sheet, deflate-compressed. bench/run-peers.sh compiles and runs
// it, then renders the PDF through the same CUPS chain as the test page.
//
//   g++ -std=c++17 -O2 bench/make_dense_page.cpp -lz -o make_dense_page
//   ./make_dense_page dense.pdf
//
// Exit status 0 on success, 1 when the file cannot be written or compressed,
// 2 for a usage error. The same build makes the same bytes on every run.
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dense_page.h"

namespace {

// Writes a PDF front to back, counting bytes so that the cross-reference
// table can point at every object. Remembers a failed write in ok().
class PdfWriter {
 public:
  explicit PdfWriter(std::FILE* out) : out_(out) {}

  void Put(const std::string& text) { PutBytes(text.data(), text.size()); }
  void PutBytes(const void* data, size_t size) {
    if (std::fwrite(data, 1, size, out_) != size) ok_ = false;
    pos_ += size;
  }
  // Starts object `id` (1-based, in order) and remembers where it begins.
  void BeginObject(int id) {
    offsets_.resize(static_cast<size_t>(id) + 1);
    offsets_[static_cast<size_t>(id)] = pos_;
    Put(std::to_string(id) + " 0 obj\n");
  }
  // Cross-reference table and trailer for objects 1..n, root object 1.
  void Finish() {
    const size_t xref = pos_;
    const size_t n = offsets_.size();
    Put("xref\n0 " + std::to_string(n) + "\n0000000000 65535 f \n");
    for (size_t i = 1; i < n; ++i) {
      char line[32];
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets_[i]);
      Put(line);
    }
    Put("trailer\n<< /Size " + std::to_string(n) + " /Root 1 0 R >>\nstartxref\n" +
        std::to_string(xref) + "\n%%EOF\n");
  }
  bool ok() const { return ok_; }

 private:
  std::FILE* out_;
  size_t pos_ = 0;
  bool ok_ = true;
  std::vector<size_t> offsets_;
};

std::vector<unsigned char> PagePixels(int w, int h) {
  std::vector<unsigned char> pixels(static_cast<size_t>(w) * h * 3);
  size_t i = 0;
  for (int y = 0; y < h; ++y) {  // PDF images run top row first
    for (int x = 0; x < w; ++x) {
      const quill_bench::DenseRgb p = quill_bench::DensePixel(x, y, w, h);
      pixels[i++] = p.r;
      pixels[i++] = p.g;
      pixels[i++] = p.b;
    }
  }
  return pixels;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.pdf\n", argc > 0 ? argv[0] : "make_dense_page");
    return 2;
  }
  const int w = quill_bench::kDenseWidth;
  const int h = quill_bench::kDenseHeight;
  const std::vector<unsigned char> pixels = PagePixels(w, h);
  uLongf packed_size = compressBound(static_cast<uLong>(pixels.size()));
  std::vector<unsigned char> packed(packed_size);
  // Level 1: the grain hardly compresses anyway, and the script waits for it.
  if (compress2(packed.data(), &packed_size, pixels.data(), static_cast<uLong>(pixels.size()), 1) !=
      Z_OK) {
    std::fprintf(stderr, "make_dense_page: compression failed\n");
    return 1;
  }

  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  PdfWriter pdf(out);
  pdf.Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  pdf.BeginObject(1);
  pdf.Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  pdf.BeginObject(2);
  pdf.Put("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
  pdf.BeginObject(3);
  pdf.Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
          "/Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>\nendobj\n");
  const std::string content = "q 612 0 0 792 0 0 cm /Im0 Do Q\n";
  pdf.BeginObject(4);
  pdf.Put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
          "endstream\nendobj\n");
  pdf.BeginObject(5);
  pdf.Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
          std::to_string(h) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode" +
          " /Length " + std::to_string(packed_size) + " >>\nstream\n");
  pdf.PutBytes(packed.data(), packed_size);
  pdf.Put("\nendstream\nendobj\n");
  pdf.Finish();
  const bool closed = std::fclose(out) == 0;
  const bool ok = pdf.ok() && closed;
  if (!ok) {
    std::fprintf(stderr, "make_dense_page: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
