// doc_job.h - one document of libquillcore driven from pages that arrive as
// CUPS-style raster headers and canvases: the settings a printer family
// asks for, the option string as it grows from pass to pass, and the calls
// of the document interface in their order.
//
// quillfilter and the printer application both print through this module,
// so that the same page with the same settings gives the same printer bytes
// in either. It reaches the library only through include/quill/.
//
// Thread safety: a DocumentJob is used by one thread at a time; separate
// DocumentJobs share nothing and may run on separate threads at once.
#ifndef QUILL_HOST_DOC_JOB_H_
#define QUILL_HOST_DOC_JOB_H_

#include <cstdint>
#include <string>

#include <cups/raster.h>

#include "page_canvas.h"
#include "quill/libquill.h"

namespace quill_host {

// The library's document functions a job calls. Programs pass the exported
// ones (LibraryApi); tests may pass recording stand-ins.
struct DocApi {
  void* (*get_object)(const char* name, const CONV_PARAM2* param);
  void (*start_doc2)(void* obj, const CONV_PARAM2* param);
  int (*process_page2)(void* obj, const CONV_PARAM2* param, const RASTER_INFO* raster);
  void (*end_doc)(void* obj);
  void (*release)(void* obj);
};

// The exported functions of libquillcore; valid for the life of the process.
inline const DocApi& LibraryApi() {
  static const DocApi api = {DocProc_GetObject, DocProc_StartDoc2, DocProc_ProcessPage2,
                             DocProc_EndDoc, DocProc_Release};
  return api;
}

// What a printer family asks of the library for one job.
struct DocSettings {
  std::string processor;          // class name for DocProc_GetObject
  std::string options;            // option string before the first page
  uint16_t shingling = SHINGLING_NONE;  // CONV_PARAM2.shingling
  bool serial_start_doc = false;  // every pass appends the serial inkjets' start command
  uint16_t x_unit = 1200;         // command units until a page's cupsRowCount picks them
  uint16_t y_unit = 1200;
};

// quillfilter's settings for a PPD model number and CustomColorMode value:
// ProcessorName and BaseOptions below, shingling none for model 1 and
// SHINGLING_HALF_BAND_DYNA otherwise, the start command on every pass of
// every model but 1, units 1200 x 1200 until the first page.
DocSettings SettingsForModel(int model, int color_mode);

// Name of the document processor for a PPD model number and colour mode:
// "DocumentProcessDot24" for model 1, else "DocumentProcessInk3" for colour
// mode 2, else "DocumentProcessInk1".
const char* ProcessorName(int model, int color_mode);

// The option string before the first page: for model 1
// "dither=2:dual_color=1", otherwise
// "use_locpos=1:gamma=2.2:dither=2:band_hint=1" with ":dup_red=1" added for
// colour mode 2.
std::string BaseOptions(int model, int color_mode);

// Appends the start-of-document command for a pass at vertical resolution
// `y_res`: the short form (without 1B 78 03) when y_res is above 399 or the
// long form was appended before, the long form otherwise.
void AppendStartDoc(std::string& options, unsigned y_res);

// Appends ":duplex=1" for a duplex page, once per job.
void AppendDuplex(std::string& options, bool duplex);

// Command units for a page's cupsRowCount: 24 gives 360 x 360, 896 and 1000
// give 1440 x 1440; any other value leaves the units as they are.
void UnitsForRowCount(unsigned row_count, uint16_t& x_unit, uint16_t& y_unit);

// Page length in y_unit units of a canvas of `height` rows at `y_res` dpi,
// truncated; saturates at UINT32_MAX. Requires: y_res != 0.
uint32_t PageLengthUnits(uint16_t y_unit, uint32_t height, unsigned y_res);

// One document: created by the constructor, ended and released by Finish
// (or the destructor).
class DocumentJob {
 public:
  // Asks `api` for the processor of `settings` with a parameter record that
  // holds the shingling mode and the callbacks (no option string yet: the
  // processor starts with its defaults and gets the options with the first
  // page). `api` and the callbacks' arguments are borrowed and must outlive
  // the job. The write callback receives every printer byte; the
  // request-exit callback is asked inside the library's page loops.
  DocumentJob(const DocApi& api, DocSettings settings, write_callback write, void* write_hdl,
              request_exit_callback exit_cb, void* exit_param);
  ~DocumentJob();
  DocumentJob(const DocumentJob&) = delete;
  DocumentJob& operator=(const DocumentJob&) = delete;

  // False when the library gave no processor (every page is then dropped by
  // the library's null-handle check; the job still ends normally).
  bool has_document() const { return doc_ != nullptr; }

  // Sends one copy of a page placed on `canvas` (page_canvas.h, laid out as
  // `geo` and `layout` say) with the header it came with: appends the start
  // command and the duplex key as the settings and header ask, takes units,
  // head height and page length from the header, starts the document before
  // the first copy and hands the page to the library. Returns the library's
  // result (0, or -1 for a rejected page, which does not stop the job).
  // `canvas` is borrowed for the call; the library may rewrite it in place.
  int SendCopy(const cups_page_header2_t& header, PixelLayout layout, const PageGeometry& geo,
               uint8_t* canvas);

  // Ends and releases the document, whether or not a page was sent. Later
  // calls do nothing.
  void Finish();

 private:
  const DocApi& api_;
  DocSettings settings_;  // options grow by one piece per pass
  CONV_PARAM2 cp_;        // handed with every call; points into settings_.options
  void* doc_ = nullptr;   // the document handle, owned until Finish
  bool started_ = false;  // start_doc2 was called
  bool finished_ = false;
};

}  // namespace quill_host

#endif  // QUILL_HOST_DOC_JOB_H_
