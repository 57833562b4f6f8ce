// cups_dest.h - the job's options, the destination's saved options and the
// PPD defaults, answered as one lookup by option name.
//
// Precedence of a lookup: the job's option, else the option saved for the
// destination on the print server, else the PPD default, else the caller's
// default. Only options the destination's PPD defines can be found.
//
// Every CUPS object is held by a shared owner whose deleter is the matching
// CUPS release call, so nothing leaks on any path.
#ifndef QUILL_FILTER_CUPS_DEST_H_
#define QUILL_FILTER_CUPS_DEST_H_

#include <memory>
#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>

namespace cups {

// The job's option list parsed from the filter's options argument. Owns the
// array (released with cupsFreeOptions).
class Options {
 public:
  // Parses `arg` ("name=value name2=value2 ...", may be null) and writes the
  // debug records "parse N options" and "i: name=value" for each option.
  explicit Options(const char* arg);
  ~Options();
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;

  int count() const { return cnt_; }
  // The parsed array; valid while this object lives. Null when empty.
  cups_option_t* options() const { return opts_; }

 private:
  cups_option_t* opts_ = nullptr;  // parsed job options
  int cnt_ = 0;                    // entries in opts_
};

// A print destination with its PPD marked by the PPD defaults and the
// destination's saved options; job options are marked over that at lookup.
class Dest {
 public:
  // Looks up destination `name` on the default print server, copies its
  // capability information, fetches the server's copy of its PPD and marks
  // it. A null `name`, an unknown destination or an unavailable PPD leave the
  // corresponding members empty; lookups then return their defaults. An
  // unknown destination writes the warning "failed to get dest".
  explicit Dest(const char* name);
  Dest(const Dest&) = delete;
  Dest& operator=(const Dest&) = delete;

  // Replaces the job options by those parsed from `arg`.
  void parse_arg(const char* arg);

  // Current choice of PPD option `name` (job option, else destination
  // option, else PPD default), or `def` when there is none or no job
  // options were parsed. Writes a debug record with the outcome.
  //
  // The int form reads the choice keyword as a decimal number (leading
  // blanks and a sign accepted, trailing text ignored). A keyword that is not
  // a decimal number or does not fit an int writes a warning and gives `def`.
  template <typename T>
  T get_option(const char* name, const T& def);

  // True when a PPD for the destination could be opened.
  bool has_ppd() const { return static_cast<bool>(ppd_); }

 private:
  // Declared in this order, so destruction releases ppd_, opts_, info_,
  // dest_ in that order.
  std::shared_ptr<cups_dest_t> dest_;   // the named destination
  std::shared_ptr<cups_dinfo_t> info_;  // its capability information
  std::shared_ptr<Options> opts_;       // the job options
  std::shared_ptr<ppd_file_t> ppd_;     // the destination's PPD, marked
};

// Reads the choice keyword `text` of option `name` as a decimal int (leading
// blanks and a sign accepted, trailing text ignored). A keyword that does
// not start with a decimal number, or does not fit an int, writes a warning
// and gives `def`. Requires: `text` is not empty.
int ChoiceToInt(const char* name, const std::string& text, int def);

template <>
std::string Dest::get_option<std::string>(const char* name, const std::string& def);
template <>
int Dest::get_option<int>(const char* name, const int& def);

}  // namespace cups

#endif  // QUILL_FILTER_CUPS_DEST_H_
