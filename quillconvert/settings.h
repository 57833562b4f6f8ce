// settings.h - the command line of quillconvert.
#ifndef QUILL_QUILLCONVERT_SETTINGS_H_
#define QUILL_QUILLCONVERT_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillconvert {

// What one run of quillconvert does, with the defaults of an unset flag.
struct Settings {
  std::string processor_class = "DocumentProcessInk1";  // --class
  std::string options;            // --options, the library's option string
  bool has_options = false;       // --options given (an empty string is still passed)
  std::string output;             // --output file; empty: standard output
  uint16_t x_res = 360;           // --x-res, image resolution, dpi
  uint16_t y_res = 360;           // --y-res
  uint16_t x_unit = 360;          // --x-unit, horizontal command units per inch
  uint16_t y_unit = 360;          // --y-unit
  uint16_t num_pins = 24;         // --pins, head height
  uint16_t shingling = 0;         // --shingling, SHINGLING_* mode
  uint32_t page_length = 0;       // --page-length in y units; 0: as long as each picture
  double rotate = 0;              // --rotate, degrees, images only
  bool unidir = false;            // --unidir, stream only
  bool time_stamp = false;        // --time-stamp, stream only
  int verbosity = 0;              // number of --verbose flags
  bool help = false;              // --help
  bool class_given = false;       // --class was on the command line
  std::vector<std::string> images;  // image files; none or "-": stream on stdin

  // True when the input is a print-data stream on standard input.
  bool StreamMode() const { return images.empty() || (images.size() == 1 && images[0] == "-"); }
};

// Parses argv (argv[0] is the program name). Returns true and fills
// *settings on success; returns false with a one-line message in *error for
// an unknown flag, a missing or malformed value, or "-" mixed with files.
// Not thread-safe (uses getopt_long).
bool ParseCommandLine(int argc, char** argv, Settings* settings, std::string* error);

// The --help text.
std::string UsageText();

}  // namespace quillconvert

#endif  // QUILL_QUILLCONVERT_SETTINGS_H_
