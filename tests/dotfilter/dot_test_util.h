// dot_test_util.h - fixtures for the quilldot tests: temporary folders,
// CUPS raster files, hand-written PPDs, page pictures and running the built
// filter the way CUPS runs it.
#ifndef QUILL_TESTS_DOTFILTER_DOT_TEST_UTIL_H_
#define QUILL_TESTS_DOTFILTER_DOT_TEST_UTIL_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cups/raster.h>

#include "common/recording_writer.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {

using quill_test::Bytes;
using quillpreview::DotRows;

// A folder under /tmp that is removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteTextFile(const std::string& path, const std::string& text);
Bytes ReadFileBytes(const std::string& path);

// --- Pages --------------------------------------------------------------

// One raster page: its header and the rows that follow it in the stream
// (each cupsBytesPerLine bytes; fewer rows than cupsHeight make a truncated
// stream).
struct RasterPage {
  cups_page_header2_t header;
  std::vector<Bytes> rows;
};

// A one-bit black page header for band printing.
cups_page_header2_t BandHeader(unsigned width, unsigned height, unsigned row_count,
                               unsigned hres, unsigned vres);
// A one-bit page header for raster printing with `planes` planes side by
// side in each row (colour space chosen to match: 1 K, 3 CMY, 4 KCMY,
// 6 KCMYcm).
cups_page_header2_t RasterHeader(unsigned width, unsigned height, unsigned hres, unsigned vres,
                                 int planes, unsigned compression);

// Random dots: each dot set with probability percent/100 (fixed seed).
DotRows RandomDots(unsigned width, unsigned height, unsigned seed, int percent);
// Clears rows [first, last) of a picture.
void BlankRows(DotRows* dots, unsigned first, unsigned last);
// An all-blank picture.
DotRows BlankDots(unsigned width, unsigned height);

// Rows of one-bit data (MSB first) of `bytes_per_line` bytes from a picture.
std::vector<Bytes> PackRows(const DotRows& dots, unsigned bytes_per_line);
// A page of header with rows packed from dots.
RasterPage MakePage(const cups_page_header2_t& header, const DotRows& dots);
// A raster page whose rows hold `planes` pictures side by side.
RasterPage MakePlanarPage(const cups_page_header2_t& header, const std::vector<DotRows>& planes);

// Writes pages as a CUPS raster stream (cupsRasterOpen/WriteHeader2/
// WritePixels), compressed or not (an uncompressed stream has every row at a
// known offset). Returns false on a write failure.
bool WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                 bool compressed = true);

// --- PPDs ---------------------------------------------------------------

struct PpdOption {
  std::string key;                   // "Cutting"
  std::string default_choice;        // "" leaves the option without a default
  std::vector<std::string> choices;  // choice keywords, e.g. "0", "6"
};

struct PpdSpec {
  int model = 0;                     // *cupsModelNumber
  std::string nickname = "Quill Test Printer";
  std::vector<std::pair<std::string, std::string>> addons;  // "*add-ons spec: value"
  std::vector<PpdOption> options;
  std::string filter = "quilldot";   // program of *cupsFilter
  // Page sizes: name, width, length, top of the imageable area (points).
  struct Size {
    std::string name;
    int width;
    int length;
    int top;
  };
  std::vector<Size> sizes = {{"Letter", 612, 792, 792}, {"Narrow", 204, 600, 582}};
};

std::string PpdText(const PpdSpec& spec);

// --- Running the filter -------------------------------------------------

struct RunResult {
  int status = -1;         // exit status; -1 when killed or not started
  int signal = 0;          // terminating signal, 0 when it exited
  bool timed_out = false;  // killed after the time limit
  Bytes out;               // standard output
  std::string err;         // standard error
};

// Path of the quilldot built with the tests.
std::string QuilldotPath();

// Runs program with argv (argv[0] as given) and extra environment entries
// "NAME=value", stdin from stdin_path ("" for /dev/null); kills it after
// timeout_s seconds.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& stdin_path,
                     int timeout_s);

// Runs quilldot as CUPS does: argv "queue job user title copies options
// [file]". ppd_path "" leaves PPD unset. The destination lookup goes to
// cups_server (CUPS_SERVER); by default a server that does not exist, so no
// local spooler is consulted.
RunResult RunQuilldot(const std::vector<std::string>& args, const std::string& ppd_path,
                      const std::string& stdin_path = "", const std::string& cups_server = "");

// The usual filter arguments for a raster file: job 7, one copy, options.
std::vector<std::string> JobArgs(const std::string& raster_path,
                                 const std::string& options = "");

// A started process with a pipe to its standard input.
struct Child {
  pid_t pid = -1;
  int stdin_fd = -1;
};
Child StartWithPipe(const std::string& program, const std::vector<std::string>& argv,
                    const std::vector<std::string>& env, const std::string& out_path,
                    const std::string& err_path);
// Waits up to timeout_s seconds for the child; kills it after that. Fills
// status, signal and timed_out of result.
void WaitChild(pid_t pid, int timeout_s, RunResult* result);

// Number of times needle occurs in text.
int CountOf(const std::string& text, const std::string& needle);

}  // namespace dot_test

#endif  // QUILL_TESTS_DOTFILTER_DOT_TEST_UTIL_H_
