// dot_options.h - printer capabilities, job options and the job start.
#ifndef QUILL_DOTFILTER_DOT_OPTIONS_H_
#define QUILL_DOTFILTER_DOT_OPTIONS_H_

#include <cups/cups.h>
#include <cups/ppd.h>

namespace quilldot {

// Value of a job option whose PPD option has no marked choice.
constexpr int kOptionUnmarked = -2147483647 - 1;

// Reads Model and the "add-ons" capabilities (cutter, drawer, blackmark,
// maxwidth) from an open PPD and traces them. ppd may be nullptr: then
// everything stays as it is (0 in a fresh process).
void ReadCapabilities(ppd_file_t* ppd);

// The decimal value of the marked choice of PPD option key_name, or
// kOptionUnmarked when the option has no marked choice (or ppd is nullptr).
// Values beyond the int range are clamped.
int GetIntOption2(const char* key_name, ppd_file_t* ppd);

// Marks the PPD defaults, then the destination options, then the options
// parsed from option_line (may be nullptr), and reads the five job options
// into CuttingMethod, DrawerMethod, BlackMarkMethod, LogoMethod, PaperType.
// ppd may be nullptr (every option is then unmarked).
void ReadJobOptions(ppd_file_t* ppd, int num_dest_options, cups_option_t* dest_options,
                    const char* option_line);

// Traces the five job options.
void TraceJobOptions();

// Writes the job-start commands chosen by the capabilities and job options:
// drawer pulse, feed to the black mark, the logo printed once.
void WriteJobStartCommands();

// The job start: looks up destination name on the default server; when it
// exists, reads the job options from its PPD and options and from
// option_line; otherwise the options stay 0. Then traces the options and
// writes the job-start commands.
void StartDoc(const char* name, const char* option_line);

// The logo sequence: centre, print stored logo n, back to the left.
void WriteLogo(int n);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_OPTIONS_H_
