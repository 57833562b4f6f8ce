// quillpreview: shows what a printer stream of the suite would print, one
// PNG picture and one summary line per page.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "preview/stream_preview.h"

namespace {

using quillpreview::Bytes;
using quillpreview::PreviewOptions;
using quillpreview::PreviewResult;

constexpr int kExitOk = 0;
constexpr int kExitDecode = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: quillpreview [OPTION]... FILE\n"
    "Decodes a printer stream of quillfilter, libquillcore or quilldot and writes\n"
    "one PNG per page at the printer's resolution (second colour in red), with a\n"
    "summary line per page on standard output. FILE \"-\" reads standard input.\n"
    "\n"
    "  --format F           serial, pagelang, thermal, dot24 or quilldot\n"
    "                       (default: detected from the first commands)\n"
    "  -o PREFIX            write PREFIX-1.png, PREFIX-2.png, ... (default: FILE\n"
    "                       without its extension; \"page\" for standard input)\n"
    "  --resolution X[xY]   dots per inch, where the stream does not say\n"
    "  --units X[xY]        serial bands: command units per inch\n"
    "  --band-height N      serial bands: lines per band\n"
    "  -v, --verbose        name the format, the geometry and the evidence\n"
    "  -h, --help           show this text\n"
    "\n"
    "Exit status: 0 all pages decoded, 1 a byte could not be decoded (the pages\n"
    "before it are still written) or a file could not be read or written,\n"
    "2 a usage error.\n";

int UsageError(const std::string& what) {
  std::fprintf(stderr, "quillpreview: %s\n%s", what.c_str(), "Try 'quillpreview --help'.\n");
  return kExitUsage;
}

// "300" or "300x600": both values above 0.
bool ParsePair(const std::string& text, uint32_t* x, uint32_t* y) {
  char* end = nullptr;
  const unsigned long a = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || a == 0 || a > 65535) return false;
  unsigned long b = a;
  if (*end == 'x' || *end == 'X') {
    const char* second = end + 1;
    b = std::strtoul(second, &end, 10);
    if (end == second || b == 0 || b > 65535) return false;
  }
  if (*end != '\0') return false;
  *x = static_cast<uint32_t>(a);
  *y = static_cast<uint32_t>(b);
  return true;
}

bool ReadAll(const std::string& path, Bytes* out) {
  if (path == "-") {
    std::istreambuf_iterator<char> begin(std::cin), end;
    out->assign(begin, end);
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// FILE without the extension of its last path component.
std::string DefaultPrefix(const std::string& path) {
  if (path == "-") return "page";
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) return path.substr(0, dot);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  PreviewOptions options;
  std::string prefix;
  std::string file;
  bool verbose = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (a == "--format") {
      if (!value(&v)) return UsageError("--format needs a value");
      options.format = quillpreview::FormatFromName(v);
      if (!options.format) return UsageError("unknown format '" + v + "'");
    } else if (a == "-o") {
      if (!value(&prefix) || prefix.empty()) return UsageError("-o needs a prefix");
    } else if (a == "--resolution") {
      if (!value(&v) || !ParsePair(v, &options.x_res, &options.y_res)) {
        return UsageError("--resolution needs X or XxY dots per inch");
      }
    } else if (a == "--units") {
      if (!value(&v) || !ParsePair(v, &options.x_unit, &options.y_unit)) {
        return UsageError("--units needs X or XxY units per inch");
      }
    } else if (a == "--band-height") {
      uint32_t unused = 0;
      if (!value(&v) || !ParsePair(v, &options.band_height, &unused) || unused != options.band_height ||
          options.band_height > 2040) {
        return UsageError("--band-height needs a number of lines from 1 to 2040");
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "'");
    } else if (!file.empty()) {
      return UsageError("one FILE only");
    } else {
      file = a;
    }
  }
  if (file.empty()) return UsageError("no FILE");
  if (prefix.empty()) prefix = DefaultPrefix(file);

  Bytes stream;
  if (!ReadAll(file, &stream)) {
    std::fprintf(stderr, "quillpreview: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
    return kExitDecode;
  }

  const PreviewResult result = quillpreview::PreviewStream(stream, options);
  const char* format = quillpreview::FormatName(result.format);
  if (verbose) {
    std::fprintf(stderr, "quillpreview: %s: %s (%s); %s\n", file.c_str(), format,
                 result.format_reason.c_str(), result.geometry.c_str());
  }
  for (const std::string& w : result.warnings) {
    std::fprintf(stderr, "quillpreview: %s: warning: %s\n", file.c_str(), w.c_str());
  }
  int status = kExitOk;
  for (size_t p = 0; p < result.pages.size(); ++p) {
    const std::string path = prefix + "-" + std::to_string(p + 1) + ".png";
    std::string error;
    if (!quillpreview::WritePng(result.pages[p], path, &error)) {
      std::fprintf(stderr, "quillpreview: %s\n", error.c_str());
      return kExitDecode;
    }
    std::printf("%s -> %s\n", quillpreview::SummaryLine(result.pages[p], p + 1, format).c_str(),
                path.c_str());
  }
  std::fflush(stdout);
  if (result.failed) {
    std::fprintf(stderr, "quillpreview: %s: %s; %zu page%s written before it\n", file.c_str(),
                 result.error.c_str(), result.pages.size(), result.pages.size() == 1 ? "" : "s");
    status = kExitDecode;
  }
  return status;
}
