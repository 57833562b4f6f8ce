// drivers.h - the printers quill-printer-app can drive: one entry per
// family and model, as data. The driver callback turns an entry into what
// PAPPL publishes over IPP; the raster callbacks read it to drive the
// library (library_driver.h) or quilldot (dot_driver.h).
#ifndef QUILL_APP_DRIVERS_H_
#define QUILL_APP_DRIVERS_H_

#include <pappl/pappl.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quill_app {

// Who prints a driver's pages.
enum class Engine {
  kSerialInk,  // libquillcore's serial inkjet processors, as quillfilter drives them
  kDot24,      // libquillcore's 24-pin processor, as quillfilter drives it
  kPageInk,    // libquillcore's page-language inkjet (DocumentProcessInk2)
  kThermal,    // libquillcore's thermal printer (DocumentProcessThermal)
  kDot,        // quilldot's bands and raster lines
};

// A vendor attribute: IPP keywords offered in the web interface and with a
// job, each standing for the number the engine acts on.
struct Choice {
  const char* keyword;
  int value;
};
struct VendorOption {
  const char* name;          // IPP attribute name ("cutting", ...)
  const char* default_kw;    // keyword of the default
  const Choice* choices;     // null-keyword terminated
};

constexpr int kMaxResolutions = 3;
constexpr int kMaxSizes = 6;
constexpr int kMaxVendor = 6;

struct DriverSpec {
  const char* name;         // driver name for -m and the web interface
  const char* description;  // make and model
  const char* device_id;    // IEEE-1284 device ID
  Engine engine;
  bool color;               // offers print-color-mode color (black and red, or colour)
  int row_count;            // cupsRowCount of every page (head height, band rows)
  int row_feed;             // cupsRowFeed (quilldot's interleaved bands)
  int row_step;             // cupsRowStep
  int max_width;            // thermal: printable dots across
  const char* ppd;          // quilldot: file name of the printer's PPD (its add-ons)
  int num_resolutions;
  int x_res[kMaxResolutions];
  int y_res[kMaxResolutions];
  int default_res;          // index into x_res/y_res
  int left_right;           // margins, hundredths of millimetres
  int bottom_top;
  bool receipt;             // roll media, no margins
  const char* sizes[kMaxSizes];  // PWG media names, the default first
  const VendorOption* vendor[kMaxVendor];  // null-terminated
};

// The drivers as PAPPL lists them (name, description, device ID), in the
// order of the web interface; built once, valid for the life of the process
// (PAPPL keeps the pointer).
const std::vector<pappl_pr_driver_t>& DriverList();
// The driver of that name, or null.
const DriverSpec* FindDriver(const char* name);

// The value a job's vendor option stands for: its keyword in `options`
// (num/options as PAPPL hands them), or the default; `fallback` when the
// driver has no such option.
int VendorValue(const DriverSpec& driver, const char* name, int num_options,
                const cups_option_t* options, int fallback);

// PAPPL's driver callback: fills `data` and `*attrs` for the driver named
// `driver_name`; false for an unknown name.
bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);

// PAPPL's printer-creation callback: sets the printer's supplies (the
// status callback sets them again, for printers loaded from the state file).
void CreatePrinter(pappl_printer_t* printer, void* data);

// The header a driver's engine gets for a page PAPPL hands over: `in` with
// the driver's head and band rows (cupsRowCount, cupsRowFeed, cupsRowStep),
// the raster placed at the sheet's top-left corner (imaging box and margins
// zero; a PWG page always covers the whole sheet), one copy (PAPPL repeats
// pages for copies), and for quilldot's raster lines cupsCompression from
// the job's "compression". quillfilter and quilldot print the same bytes
// for a CUPS raster with this header.
cups_page_header2_t DriverPageHeader(const DriverSpec& driver, const cups_page_header2_t& in,
                                     int num_vendor, const cups_option_t* vendor);

// PAPPL's auto-add callback: the driver whose device ID matches a USB
// printer's, or null.
const char* AutoAddCallback(const char* device_info, const char* device_uri,
                            const char* device_id, void* data);

// The folder of the quill PPDs (quilldot reads a printer's add-ons from
// them): $QUILL_PPD_DIR, else the installed folder.
std::string PpdDirectory();

}  // namespace quill_app

#endif  // QUILL_APP_DRIVERS_H_
