#include "settings.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace quillconvert {
namespace {

// Flags without a short form.
enum LongOnly {
  kXRes = 256,
  kYRes,
  kXUnit,
  kYUnit,
  kPins,
  kShingling,
  kPageLength,
  kRotate,
  kUnidir,
  kTimeStamp,
};

constexpr option kLongOptions[] = {
    {"class", required_argument, nullptr, 'c'},
    {"options", required_argument, nullptr, 'O'},
    {"output", required_argument, nullptr, 'o'},
    {"resolution", required_argument, nullptr, 'r'},
    {"x-res", required_argument, nullptr, kXRes},
    {"y-res", required_argument, nullptr, kYRes},
    {"x-unit", required_argument, nullptr, kXUnit},
    {"y-unit", required_argument, nullptr, kYUnit},
    {"pins", required_argument, nullptr, kPins},
    {"shingling", required_argument, nullptr, kShingling},
    {"page-length", required_argument, nullptr, kPageLength},
    {"rotate", required_argument, nullptr, kRotate},
    {"unidir", no_argument, nullptr, kUnidir},
    {"time-stamp", no_argument, nullptr, kTimeStamp},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

constexpr const char kShortOptions[] = ":c:O:o:r:vh";

// A decimal number from 0 to `max`, the whole text.
bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *value = v;
  return true;
}

template <typename T>
bool ParseInto(const char* flag, const char* text, T* out, std::string* error) {
  unsigned long v = 0;
  if (!ParseNumber(text, std::numeric_limits<T>::max(), &v)) {
    *error = std::string("invalid value for --") + flag + ": \"" + text + "\" (expected 0.." +
             std::to_string(std::numeric_limits<T>::max()) + ")";
    return false;
  }
  *out = static_cast<T>(v);
  return true;
}

bool ParseAngle(const char* text, double* out, std::string* error) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) {
    *error = std::string("invalid value for --rotate: \"") + text + "\" (expected degrees)";
    return false;
  }
  *out = v;
  return true;
}

// The flag as the user wrote it, for messages about it.
std::string FlagText(char** argv, int index) {
  return index >= 1 && argv[index] != nullptr ? argv[index] : "?";
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, Settings* settings, std::string* error) {
  Settings s;
  opterr = 0;  // messages are ours, in the CUPS format
  optind = 0;  // full re-initialisation of GNU getopt
  for (;;) {
    const int opt = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (opt == -1) break;
    bool ok = true;
    switch (opt) {
      case 'c':
        s.processor_class = optarg;
        s.class_given = true;
        break;
      case 'O':
        s.options = optarg;
        s.has_options = true;
        break;
      case 'o': s.output = optarg; break;
      case 'r':
        ok = ParseInto("resolution", optarg, &s.x_res, error) &&
             ParseInto("resolution", optarg, &s.y_res, error);
        break;
      case kXRes: ok = ParseInto("x-res", optarg, &s.x_res, error); break;
      case kYRes: ok = ParseInto("y-res", optarg, &s.y_res, error); break;
      case kXUnit: ok = ParseInto("x-unit", optarg, &s.x_unit, error); break;
      case kYUnit: ok = ParseInto("y-unit", optarg, &s.y_unit, error); break;
      case kPins: ok = ParseInto("pins", optarg, &s.num_pins, error); break;
      case kShingling: ok = ParseInto("shingling", optarg, &s.shingling, error); break;
      case kPageLength: ok = ParseInto("page-length", optarg, &s.page_length, error); break;
      case kRotate: ok = ParseAngle(optarg, &s.rotate, error); break;
      case kUnidir: s.unidir = true; break;
      case kTimeStamp: s.time_stamp = true; break;
      case 'v': ++s.verbosity; break;
      case 'h': s.help = true; break;
      case ':':
        *error = "option " + FlagText(argv, optind - 1) + " needs a value";
        return false;
      default:
        // A short flag is named by optopt; a long one is the word just read.
        *error = "unknown option " +
                 (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                              : FlagText(argv, optind - 1));
        return false;
    }
    if (!ok) return false;
  }
  for (int i = optind; i < argc; ++i) s.images.emplace_back(argv[i]);
  if (s.images.size() > 1) {
    for (const std::string& image : s.images) {
      if (image == "-") {
        *error = "\"-\" (a stream on standard input) cannot be mixed with image files";
        return false;
      }
    }
  }
  *settings = s;
  return true;
}

std::string UsageText() {
  return R"(Usage: quillconvert [OPTION]... IMAGE...
       quillconvert [OPTION]... [-] < STREAM

Prints image files (PNG, BMP, TIFF, JPEG and the other formats FreeImage
reads; 1 to 32 bits per pixel and 16 bits per sample; transparent parts
print as paper) through a libquillcore document processor, one page per
file, or converts a marked-up print-data stream read from standard input
when no IMAGE is given. Printer bytes go to standard output
or to the --output file; messages go to standard error as CUPS-style lines
("INFO: [quillconvert] ...").

  -c, --class NAME        document processor: DocumentProcessInk1 (default),
                          DocumentProcessInk2, DocumentProcessInk3,
                          DocumentProcessThermal, DocumentProcessDot24
  -O, --options STRING    option string, key=value pairs separated by ':'
                          (e.g. "dither=2:copies=2")
  -o, --output FILE       write the printer bytes to FILE
  -r, --resolution DPI    image resolution, both directions (default 360)
      --x-res DPI         horizontal image resolution
      --y-res DPI         vertical image resolution
      --x-unit N          horizontal command units per inch (default 360)
      --y-unit N          vertical command units per inch (default 360)
      --pins N            print-head height in vertical units (default 24)
      --shingling N       shingling mode 0..5 (default 0)
      --page-length N     page length in vertical units (default 0: each
                          page as long as its picture)
      --rotate DEG        turn every picture by DEG degrees (one-bit
                          pictures by multiples of 90 only)
      --unidir            stream: print unidirectionally
      --time-stamp        stream: write the time-stamp record
  -v, --verbose           also print DEBUG lines (twice: every trace)
  -h, --help              print this help and exit

A print-data stream is always converted by DocumentProcessInk1 with the
options the stream itself sets; --class, --options, --page-length and
--rotate do not apply to it.

Exit status: 0 when every page was printed, 1 when a page or the stream
failed, 2 for a usage error.
)";
}

}  // namespace quillconvert
