// ppd_writer.h - PPD files for tests: small, valid for ppdOpenFile, cupsd,
// lpadmin and cupsfilter, with the options the filters read.
#ifndef QUILL_TESTS_COMMON_PPD_WRITER_H_
#define QUILL_TESTS_COMMON_PPD_WRITER_H_

#include <string>
#include <vector>

namespace quill_test {

// One choice of a PickOne option.
struct PpdChoice {
  std::string keyword;  // e.g. "2"
  std::string text;     // human-readable text, e.g. "Black and red"
  std::string code;     // PostScript code, may be empty
};

// One PickOne option in the document-setup section.
struct PpdOption {
  std::string keyword;  // e.g. "CustomColorMode"
  std::string text;     // e.g. "Ink"
  std::string default_choice;
  std::vector<PpdChoice> choices;
};

// A resolution choice: "<x>x<y>dpi" (or "<x>dpi" when equal) with the page
// device settings of that resolution.
struct PpdResolution {
  unsigned x_dpi = 360;
  unsigned y_dpi = 360;
  unsigned row_count = 0;  // cupsRowCount; 0 leaves it out
};

struct PpdSpec {
  std::string model_name = "Quill Test Printer";  // ModelName, NickName
  std::string pc_file_name = "QUILLTST.PPD";      // PCFileName (8.3)
  int model_number = 0;                           // cupsModelNumber
  // Program of the *cupsFilter line: a name in the ServerBin filter
  // directory or an absolute path.
  std::string filter = "quillfilter";
  bool color_device = true;  // offers ColorModel RGB (default) next to Gray
  bool duplex = false;       // offers Duplex None/DuplexNoTumble/DuplexTumble
  std::vector<PpdResolution> resolutions = {PpdResolution{}};  // first is default
  std::vector<PpdOption> options;                // extra PickOne options
  // Printable margins in points: left, bottom, right, top.
  float margins[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  std::vector<std::string> extra_lines;  // appended verbatim before the fonts
};

// The PPD text of `spec`. Page sizes: Letter (default) and A4.
std::string MakePpd(const PpdSpec& spec);

// Writes MakePpd(spec) to `path`; false when the file cannot be written.
bool WritePpd(const std::string& path, const PpdSpec& spec);

// The CustomColorMode option with the given choice keywords (texts derived
// from them) and default.
PpdOption CustomColorModeOption(const std::vector<std::string>& choices,
                                const std::string& default_choice);

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_PPD_WRITER_H_
