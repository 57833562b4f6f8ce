// drivers.cpp - the driver table and PAPPL's driver callback.
#include "drivers.h"

#include <cstdlib>
#include <cstring>

#include "dot_driver.h"
#include "library_driver.h"

#ifndef QUILL_PPD_INSTALL_DIR
#define QUILL_PPD_INSTALL_DIR "/usr/share/ppd/quill"
#endif

namespace quill_app {
namespace {

// --- Vendor options: keyword -> the number the engine acts on -----------

constexpr Choice kShinglingChoices[] = {
    {"none", 0},         {"line", 1},         {"half-band", 2}, {"half-band-dynamic", 3},
    {"quarter-band", 4}, {"quarter-band-dynamic", 5}, {nullptr, 0}};
constexpr VendorOption kShingling = {"shingling", "half-band-dynamic", kShinglingChoices};

// Gamma in hundredths: the inkjets' option string takes value / 100.
constexpr Choice kGammaChoices[] = {{"gamma-1.0", 100}, {"gamma-1.4", 140}, {"gamma-1.8", 180},
                                    {"gamma-2.2", 220}, {"gamma-2.6", 260}, {"gamma-3.0", 300},
                                    {nullptr, 0}};
constexpr VendorOption kGamma = {"gamma", "gamma-2.2", kGammaChoices};

// Tractor-feed dot-matrix printers: the tear-off bar.
constexpr Choice kTearOffChoices[] = {
    {"none", 0}, {"tear-off-job", 3}, {"tear-off-page", 7}, {nullptr, 0}};
constexpr VendorOption kTearOff = {"cutting", "none", kTearOffChoices};

// Receipt printers: cutter, cash drawer, black mark, stored logo, paper.
constexpr Choice kCutChoices[] = {{"none", 0},          {"partial-cut-job", 1},
                                  {"full-cut-job", 2},  {"feed-job", 3},
                                  {"partial-cut-page", 5}, {"full-cut-page", 6},
                                  {"feed-page", 7},     {nullptr, 0}};
constexpr VendorOption kCut = {"cutting", "full-cut-page", kCutChoices};
constexpr Choice kDrawerChoices[] = {
    {"closed", 0}, {"open-at-start", 2}, {"open-at-end", 3}, {nullptr, 0}};
constexpr VendorOption kDrawer = {"cash-drawer", "closed", kDrawerChoices};
constexpr Choice kBlackMarkChoices[] = {
    {"off", 0}, {"feed-at-start", 2}, {"feed-at-end", 3}, {nullptr, 0}};
constexpr VendorOption kBlackMark = {"black-mark", "off", kBlackMarkChoices};
constexpr Choice kLogoChoices[] = {{"none", 0},
                                   {"logo-1-at-start", 1},
                                   {"logo-2-at-start", 2},
                                   {"logo-1-every-page", 101},
                                   {"logo-2-every-page", 102},
                                   {nullptr, 0}};
constexpr VendorOption kLogo = {"logo", "none", kLogoChoices};
constexpr Choice kPaperChoices[] = {
    {"type-0", 0}, {"type-1", 1}, {"type-2", 2}, {nullptr, 0}};
constexpr VendorOption kPaperType = {"paper-type", "type-0", kPaperChoices};

// The raster inkjet's PackBits lines.
constexpr Choice kCompressionChoices[] = {{"on", 1}, {"off", 0}, {nullptr, 0}};
constexpr VendorOption kCompression = {"line-compression", "on", kCompressionChoices};

// --- Media ----------------------------------------------------------------

constexpr const char* kLetter = "na_letter_8.5x11in";
constexpr const char* kA4 = "iso_a4_210x297mm";
constexpr const char* kLegal = "na_legal_8.5x14in";
constexpr const char* kA5 = "iso_a5_148x210mm";
constexpr const char* kFanFoldWide = "oe_fanfold-us-wide_14.875x11in";
constexpr const char* kFanFoldGerman = "na_fanfold-eur_8.5x12in";

// Margins in hundredths of millimetres: 1/8 inch, 1/4 inch, 1/2 inch.
constexpr int kEighth = 318;
constexpr int kQuarter = 635;
constexpr int kHalf = 1270;

// clang-format off
const DriverSpec kDrivers[] = {
  {"quill_ink1", "Quill Ink1", "MFG:Quill;MDL:Ink1;CMD:QUILLINK;",
   Engine::kSerialInk, false, 896, 0, 0, 0, nullptr,
   2, {360, 720}, {360, 720}, 0, kEighth, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {&kShingling, &kGamma}},
  {"quill_ink1s", "Quill Ink1 S", "MFG:Quill;MDL:Ink1 S;CMD:QUILLINK;",
   Engine::kSerialInk, false, 24, 0, 0, 0, nullptr,
   2, {360, 720}, {360, 720}, 0, kEighth, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {&kShingling, &kGamma}},
  {"quill_ink1l", "Quill Ink1 L", "MFG:Quill;MDL:Ink1 L;CMD:QUILLINK;",
   Engine::kSerialInk, false, 1000, 0, 0, 0, nullptr,
   2, {360, 720}, {360, 720}, 0, kEighth, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {&kShingling, &kGamma}},
  {"quill_ink3", "Quill Ink3 black and red", "MFG:Quill;MDL:Ink3;CMD:QUILLINK;",
   Engine::kSerialInk, true, 896, 0, 0, 0, nullptr,
   2, {360, 720}, {360, 720}, 0, kEighth, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {&kShingling, &kGamma}},
  {"quill_dot24", "Quill Dot24 black and red ribbon", "MFG:Quill;MDL:Dot24;CMD:QUILLDOT24;",
   Engine::kDot24, true, 24, 0, 0, 0, nullptr,
   2, {360, 360}, {360, 180}, 0, kQuarter, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {}},
  {"quill_ink2_color", "Quill Ink2 colour page-language inkjet", "MFG:Quill;MDL:Ink2 Color;CMD:QUILLPL;",
   Engine::kPageInk, true, 0, 0, 0, 0, nullptr,
   2, {300, 600}, {300, 600}, 0, kEighth, kEighth, false,
   {kLetter, kA4, kLegal, kA5}, {}},
  {"quill_ink2_grey", "Quill Ink2 grey page-language inkjet", "MFG:Quill;MDL:Ink2 Grey;CMD:QUILLPL;",
   Engine::kPageInk, false, 0, 0, 0, 0, nullptr,
   2, {300, 600}, {300, 600}, 0, kEighth, kEighth, false,
   {kLetter, kA4, kLegal, kA5}, {}},
  {"quill_thermal_80", "Quill Thermal 80 mm", "MFG:Quill;MDL:Thermal 80;CMD:QUILLTHERMAL;",
   Engine::kThermal, false, 0, 0, 0, 576, nullptr,
   1, {203}, {203}, 0, 0, 0, true,
   {"om_72x200mm_72x200mm", "om_72x100mm_72x100mm", "om_72x297mm_72x297mm"}, {}},
  {"quill_thermal_58", "Quill Thermal 58 mm", "MFG:Quill;MDL:Thermal 58;CMD:QUILLTHERMAL;",
   Engine::kThermal, false, 0, 0, 0, 384, nullptr,
   1, {203}, {203}, 0, 0, 0, true,
   {"om_48x200mm_48x200mm", "om_48x100mm_48x100mm", "om_48x150mm_48x150mm",
    "om_48x297mm_48x297mm"}, {}},
  {"quill_dm24", "Quill DM-24", "MFG:Quill;MDL:DM-24;CMD:QUILLDOT;",
   Engine::kDot, false, 24, 0, 0, 0, "quill-dm24.ppd",
   2, {180, 360}, {180, 180}, 0, kQuarter, kHalf, false,
   {kLetter, kA4, kFanFoldWide, kFanFoldGerman}, {&kTearOff}},
  {"quill_dm9", "Quill DM-9", "MFG:Quill;MDL:DM-9;CMD:QUILLDOT;",
   Engine::kDot, false, 16, 15, 1, 0, "quill-dm9.ppd",
   2, {120, 240}, {144, 144}, 0, kQuarter, kHalf, false,
   {kLetter, kA4, kLegal, kFanFoldGerman}, {&kTearOff}},
  {"quill_dm360", "Quill DM-360", "MFG:Quill;MDL:DM-360;CMD:QUILLDOT;",
   Engine::kDot, false, 48, 47, 1, 0, "quill-dm360.ppd",
   2, {360, 180}, {360, 360}, 0, kQuarter, kHalf, false,
   {kLetter, kA4, kLegal}, {}},
  {"quill_ij720", "Quill IJ-720", "MFG:Quill;MDL:IJ-720;CMD:QUILLDOT;",
   Engine::kDot, false, 0, 0, 0, 0, "quill-ij720.ppd",
   3, {360, 180, 720}, {360, 180, 720}, 0, kEighth, kHalf, false,
   {kLetter, kA4, kLegal, kA5}, {&kCompression}},
  {"quill_rp80", "Quill RP-80 receipt printer", "MFG:Quill;MDL:RP-80;CMD:QUILLPOS;",
   Engine::kDot, false, 24, 0, 0, 0, "quill-rp80.ppd",
   1, {203}, {203}, 0, 0, 0, true,
   {"om_72x200mm_72x200mm", "om_72x100mm_72x100mm", "om_72x297mm_72x297mm"},
   {&kCut, &kDrawer, &kBlackMark, &kLogo, &kPaperType}},
  {"quill_rp58", "Quill RP-58 receipt printer", "MFG:Quill;MDL:RP-58;CMD:QUILLPOS;",
   Engine::kDot, false, 24, 0, 0, 0, "quill-rp58.ppd",
   1, {203}, {203}, 0, 0, 0, true,
   {"om_48x200mm_48x200mm", "om_48x100mm_48x100mm", "om_48x150mm_48x150mm",
    "om_48x297mm_48x297mm"},
   {&kCut, &kDrawer, &kBlackMark, &kLogo, &kPaperType}},
};
// clang-format on

size_t CountOf(const char* const* list, size_t max) {
  size_t n = 0;
  while (n < max && list[n] != nullptr) ++n;
  return n;
}

void SetSupplies(const DriverSpec& d, pappl_supply_t* supplies, int* count) {
  int n = 0;
  auto add = [&](pappl_supply_color_t color, const char* text, pappl_supply_type_t type) {
    pappl_supply_t& s = supplies[n++];
    std::memset(&s, 0, sizeof s);
    s.color = color;
    std::strncpy(s.description, text, sizeof s.description - 1);
    s.is_consumed = true;
    s.level = -1;  // the printers do not report it
    s.type = type;
  };
  switch (d.engine) {
    case Engine::kSerialInk:
    case Engine::kPageInk:
      add(PAPPL_SUPPLY_COLOR_BLACK, "Black Ink", PAPPL_SUPPLY_TYPE_INK_CARTRIDGE);
      if (d.color && d.engine == Engine::kSerialInk) {
        add(PAPPL_SUPPLY_COLOR_MAGENTA, "Red Ink", PAPPL_SUPPLY_TYPE_INK_CARTRIDGE);
      } else if (d.color) {
        add(PAPPL_SUPPLY_COLOR_MULTIPLE, "Color Ink", PAPPL_SUPPLY_TYPE_INK_CARTRIDGE);
      }
      break;
    case Engine::kDot24:
      add(PAPPL_SUPPLY_COLOR_MULTIPLE, "Black and Red Ribbon", PAPPL_SUPPLY_TYPE_INK_RIBBON);
      break;
    case Engine::kDot:
      if (d.receipt) {
        add(PAPPL_SUPPLY_COLOR_NO_COLOR, "Thermal Paper", PAPPL_SUPPLY_TYPE_OTHER);
      } else if (std::strcmp(d.name, "quill_ij720") == 0) {
        add(PAPPL_SUPPLY_COLOR_BLACK, "Black Ink", PAPPL_SUPPLY_TYPE_INK_CARTRIDGE);
      } else {
        add(PAPPL_SUPPLY_COLOR_BLACK, "Black Ribbon", PAPPL_SUPPLY_TYPE_INK_RIBBON);
      }
      break;
    case Engine::kThermal:
      add(PAPPL_SUPPLY_COLOR_NO_COLOR, "Thermal Paper", PAPPL_SUPPLY_TYPE_OTHER);
      break;
  }
  *count = n;
}

}  // namespace

void CreatePrinter(pappl_printer_t* printer, void* /*data*/) {
  const DriverSpec* d = FindDriver(papplPrinterGetDriverName(printer));
  if (d == nullptr) return;
  pappl_supply_t supplies[2];
  int count = 0;
  SetSupplies(*d, supplies, &count);
  papplPrinterSetSupplies(printer, count, supplies);
}

namespace {

bool Status(pappl_printer_t* printer) {
  CreatePrinter(printer, nullptr);
  return true;
}

void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message) {
  // The printers have no panel or buzzer the application could reach; the
  // request is logged so that an administrator sees which queue it was.
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s",
                  message != nullptr ? message : "(no message)");
}

// Printer attributes IPP Everywhere clients look for that PAPPL does not
// set itself. The pages are printed as they come: no preferred-attributes
// answer, rendering intent "auto" only, simplex back sides "normal"; jobs
// may carry page overrides by document number and page, which print with
// the job's settings.
void AddEverywhereAttributes(ipp_t* attrs) {
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  static const char* const kOverrides[] = {"document-number", "pages"};
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                kOverrides);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
               nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
               nullptr, "normal");
}

void AddVendorAttributes(const DriverSpec& d, pappl_pr_driver_data_t* data, ipp_t* attrs) {
  int n = 0;
  for (const VendorOption* const* v = d.vendor; *v != nullptr && n < kMaxVendor; ++v, ++n) {
    const VendorOption& opt = **v;
    data->vendor[n] = opt.name;
    int count = 0;
    const char* keywords[16];
    for (const Choice* c = opt.choices; c->keyword != nullptr && count < 16; ++c) {
      keywords[count++] = c->keyword;
    }
    const std::string supported = std::string(opt.name) + "-supported";
    const std::string dflt = std::string(opt.name) + "-default";
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), count, nullptr,
                  keywords);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, dflt.c_str(), nullptr,
                 opt.default_kw);
  }
  data->num_vendor = n;
}

}  // namespace

const std::vector<pappl_pr_driver_t>& DriverList() {
  static const std::vector<pappl_pr_driver_t> list = [] {
    std::vector<pappl_pr_driver_t> l;
    for (const DriverSpec& d : kDrivers) l.push_back({d.name, d.description, d.device_id, nullptr});
    return l;
  }();
  return list;
}

const DriverSpec* FindDriver(const char* name) {
  if (name == nullptr) return nullptr;
  for (const DriverSpec& d : kDrivers) {
    if (std::strcmp(d.name, name) == 0) return &d;
  }
  return nullptr;
}

int VendorValue(const DriverSpec& driver, const char* name, int num_options,
                const cups_option_t* options, int fallback) {
  for (const VendorOption* const* v = driver.vendor; *v != nullptr; ++v) {
    if (std::strcmp((*v)->name, name) != 0) continue;
    const char* keyword = cupsGetOption(name, num_options, const_cast<cups_option_t*>(options));
    if (keyword == nullptr) keyword = (*v)->default_kw;
    for (const Choice* c = (*v)->choices; c->keyword != nullptr; ++c) {
      if (std::strcmp(c->keyword, keyword) == 0) return c->value;
    }
    for (const Choice* c = (*v)->choices; c->keyword != nullptr; ++c) {
      if (std::strcmp(c->keyword, (*v)->default_kw) == 0) return c->value;
    }
  }
  return fallback;
}

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata) {
  const DriverSpec* d = FindDriver(driver_name);
  if (d == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".",
             driver_name != nullptr ? driver_name : "(null)");
    return false;
  }

  if (d->engine == Engine::kDot) {
    SetDotCallbacks(data);
  } else {
    SetLibraryCallbacks(data);
  }
  data->identify_cb = Identify;
  data->status_cb = Status;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

  std::strncpy(data->make_and_model, d->description, sizeof data->make_and_model - 1);
  data->ppm = d->receipt ? 10 : 1;
  data->ppm_color = d->color ? 1 : 0;
  data->has_supplies = true;
  data->kind = d->receipt ? (PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL) : PAPPL_KIND_DOCUMENT;
  data->orient_default = IPP_ORIENT_PORTRAIT;

  if (d->color) {
    data->color_supported = PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_COLOR;
  } else {
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  }
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;

  // 8-bit pages only: the library screens them, and so do quilldot's
  // printers (dot_driver.h); PAPPL must not screen (raster_job.h says why).
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  if (d->color) data->raster_types |= PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->finishings = PAPPL_FINISHINGS_NONE;

  data->num_resolution = d->num_resolutions;
  for (int i = 0; i < d->num_resolutions; ++i) {
    data->x_resolution[i] = d->x_res[i];
    data->y_resolution[i] = d->y_res[i];
  }
  data->x_default = d->x_res[d->default_res];
  data->y_default = d->y_res[d->default_res];

  data->borderless = d->receipt;
  data->left_right = d->left_right;
  data->bottom_top = d->bottom_top;
  data->num_media = static_cast<int>(CountOf(d->sizes, kMaxSizes));
  for (int i = 0; i < data->num_media; ++i) data->media[i] = d->sizes[i];

  data->num_source = 1;
  data->source[0] = d->receipt ? "main-roll" : "main";
  data->num_type = 1;
  data->type[0] = d->receipt ? "continuous" : "stationery";

  pappl_media_col_t& ready = data->media_ready[0];
  std::memset(&ready, 0, sizeof ready);
  std::strncpy(ready.size_name, d->sizes[0], sizeof ready.size_name - 1);
  pwg_media_t* pwg = pwgMediaForPWG(d->sizes[0]);
  if (pwg != nullptr) {
    ready.size_width = pwg->width;
    ready.size_length = pwg->length;
  }
  ready.left_margin = ready.right_margin = d->left_right;
  ready.top_margin = ready.bottom_margin = d->bottom_top;
  std::strncpy(ready.source, data->source[0], sizeof ready.source - 1);
  std::strncpy(ready.type, data->type[0], sizeof ready.type - 1);
  data->media_default = ready;

  *attrs = ippNew();
  AddVendorAttributes(*d, data, *attrs);
  AddEverywhereAttributes(*attrs);
  return true;
}

const char* AutoAddCallback(const char* /*device_info*/, const char* /*device_uri*/,
                            const char* device_id, void* /*data*/) {
  if (device_id == nullptr) return nullptr;
  for (const DriverSpec& d : kDrivers) {
    // The model named in the printer's device ID.
    const char* mdl = std::strstr(d.device_id, "MDL:");
    if (mdl == nullptr) continue;
    const std::string model(mdl, std::strcspn(mdl, ";") + 1);  // with its ';'
    if (std::strstr(device_id, "MFG:Quill;") != nullptr &&
        std::strstr(device_id, model.c_str()) != nullptr) {
      return d.name;
    }
  }
  return nullptr;
}

std::string PpdDirectory() {
  const char* dir = std::getenv("QUILL_PPD_DIR");
  return dir != nullptr && *dir != '\0' ? dir : QUILL_PPD_INSTALL_DIR;
}

}  // namespace quill_app

namespace quill_app {

cups_page_header2_t DriverPageHeader(const DriverSpec& driver, const cups_page_header2_t& in,
                                     int num_vendor, const cups_option_t* vendor) {
  cups_page_header2_t h = in;
  h.cupsRowCount = static_cast<unsigned>(driver.row_count);
  h.cupsRowFeed = static_cast<unsigned>(driver.row_feed);
  h.cupsRowStep = static_cast<unsigned>(driver.row_step);
  for (unsigned& v : h.ImagingBoundingBox) v = 0;
  for (float& v : h.cupsImagingBBox) v = 0.0f;
  h.Margins[0] = h.Margins[1] = 0;
  h.NumCopies = 1;
  h.Duplex = CUPS_FALSE;
  if (h.cupsPageSize[0] <= 0.0f || h.cupsPageSize[1] <= 0.0f) {
    h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
    h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
  }
  if (driver.engine == Engine::kDot) {
    h.cupsCompression = static_cast<unsigned>(VendorValue(driver, "line-compression", num_vendor,
                                                          vendor, 0));
  }
  return h;
}

}  // namespace quill_app
