// dot_options.cpp - printer capabilities, job options and the job start.
#include "dot_options.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "dot_commands.h"
#include "dot_output.h"
#include "dot_state.h"

namespace quilldot {
namespace {

constexpr char kAddOns[] = "add-ons";

// Drawer and black-mark options: when the action happens.
constexpr int kAtJobStart = 2;
// Logo option: 1..99 print stored logo n once at the job start.
constexpr int kLogoOnceFirst = 1;
constexpr int kLogoOnceLast = 99;

// A capability is present when its attribute has a value starting with 1.
int HasAddOn(ppd_file_t* ppd, const char* spec) {
  ppd_attr_t* attr = ppdFindAttr(ppd, kAddOns, spec);
  return attr && attr->value && attr->value[0] == '1' ? 1 : 0;
}

// Decimal value of s, clamped to the int range; 0 when s has no digits.
int ClampedDecimal(const char* s) {
  errno = 0;
  long v = strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

void ReadCapabilities(ppd_file_t* ppd) {
  if (!ppd) return;
  Model = ppd->model_number;
  if ((HasCutter = HasAddOn(ppd, "cutter"))) Trace("The printer has a cutter.\n");
  if ((HasDrawer = HasAddOn(ppd, "drawer"))) Trace("The printer has a drawer.\n");
  if ((HasBlackMark = HasAddOn(ppd, "blackmark"))) Trace("The printer supports blackmark.\n");
  ppd_attr_t* attr = ppdFindAttr(ppd, kAddOns, "maxwidth");
  MaxWidth = attr && attr->value ? ClampedDecimal(attr->value) : 0;
  Trace("maxwidth=%d\n", MaxWidth);
}

int GetIntOption2(const char* key_name, ppd_file_t* ppd) {
  if (!ppd) return kOptionUnmarked;
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, key_name);
  if (!choice) return kOptionUnmarked;
  return ClampedDecimal(choice->choice);
}

void ReadJobOptions(ppd_file_t* ppd, int num_dest_options, cups_option_t* dest_options,
                    const char* option_line) {
  cups_option_t* options = nullptr;
  int num_options = 0;
  if (ppd) {
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_dest_options, dest_options);
    num_options = cupsParseOptions(option_line, 0, &options);
    cupsMarkOptions(ppd, num_options, options);
  }
  CuttingMethod = GetIntOption2("Cutting", ppd);
  DrawerMethod = GetIntOption2("Drawer", ppd);
  BlackMarkMethod = GetIntOption2("BlackMark", ppd);
  LogoMethod = GetIntOption2("Logo", ppd);
  PaperType = GetIntOption2("PaperType", ppd);
  cupsFreeOptions(num_options, options);
}

void TraceJobOptions() {
  Trace("CuttingMethod = %d\n", CuttingMethod);
  Trace("DrawerMethod = %d\n", DrawerMethod);
  Trace("BlackMarkMethod = %d\n", BlackMarkMethod);
  Trace("LogoMethod = %d\n", LogoMethod);
  Trace("PaperType = %d\n", PaperType);
}

void WriteLogo(int n) {
  Emit(EscAlignCenter());
  Emit(FsPrintLogo(static_cast<uint8_t>(n)));
  Emit(EscAlignLeft());
}

void WriteJobStartCommands() {
  if (HasDrawer && DrawerMethod == kAtJobStart) Emit(EscDrawerPulse());
  if (HasBlackMark && BlackMarkMethod == kAtJobStart) Emit(GsFeedToBlackMark());
  if (LogoMethod >= kLogoOnceFirst && LogoMethod <= kLogoOnceLast) WriteLogo(LogoMethod);
}

void StartDoc(const char* name, const char* option_line) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
  if (!dest) {
    Trace("fails to get destination\n");
  } else {
    Trace("options of this destination>>\n");
    for (int i = 0; i < dest->num_options; ++i)
      Trace("%s=%s\n", dest->options[i].name, dest->options[i].value);
    Trace("<<options of this destination\n");
    // cupsGetPPD hands out a temporary copy of the queue's PPD; it is
    // removed again once the options are read.
    const char* ppd_name = cupsGetPPD(name);
    ppd_file_t* ppd = ppd_name ? ppdOpenFile(ppd_name) : nullptr;
    ReadJobOptions(ppd, dest->num_options, dest->options, option_line);
    if (ppd) ppdClose(ppd);
    if (ppd_name) unlink(ppd_name);
    cupsFreeDests(1, dest);
  }
  TraceJobOptions();
  WriteJobStartCommands();
}

}  // namespace quilldot
