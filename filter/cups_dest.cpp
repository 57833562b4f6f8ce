#include "cups_dest.h"

#include <unistd.h>

#include <stdexcept>

#include "cups_log.h"

namespace cups {
namespace {

using quill_filter::LogRecord;
using spdlog::level::debug;
using spdlog::level::warn;

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

void LogOptionList(int count, const cups_option_t* options) {
  for (int i = 0; i < count; ++i) {
    LogRecord(debug, "{}: {}={}", i, OrNull(options[i].name), OrNull(options[i].value));
  }
}

}  // namespace

Options::Options(const char* arg) {
  cnt_ = cupsParseOptions(arg, 0, &opts_);
  LogRecord(debug, "parse {} options", cnt_);
  LogOptionList(cnt_, opts_);
}

Options::~Options() { cupsFreeOptions(cnt_, opts_); }

Dest::Dest(const char* name) {
  if (name == nullptr) return;
  // Owners are made only for objects that exist, so no release call ever
  // sees a null pointer.
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
  if (dest == nullptr) {
    LogRecord(warn, "failed to get dest");
    return;
  }
  dest_.reset(dest, [](cups_dest_t* d) { cupsFreeDests(1, d); });
  if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
    info_.reset(info, cupsFreeDestInfo);
  }

  LogRecord(debug, "dest has {} options", dest_->num_options);
  LogOptionList(dest_->num_options, dest_->options);

  // The server hands out its copy of the queue's PPD as a file the caller
  // owns: it is opened, then removed at once.
  const char* ppd_path = cupsGetPPD2(CUPS_HTTP_DEFAULT, name);
  if (ppd_path != nullptr) {
    std::string path(ppd_path);
    if (ppd_file_t* ppd = ppdOpenFile(path.c_str())) ppd_.reset(ppd, ppdClose);
    unlink(path.c_str());
  }
  if (ppd_) {
    ppdMarkDefaults(ppd_.get());
    cupsMarkOptions(ppd_.get(), dest_->num_options, dest_->options);
  }
}

void Dest::parse_arg(const char* arg) { opts_ = std::make_shared<Options>(arg); }

template <>
std::string Dest::get_option<std::string>(const char* name, const std::string& def) {
  if (opts_ && ppd_ && name != nullptr) {
    // Marking again on every lookup is harmless: the job options are laid
    // over the defaults and destination options marked at construction.
    cupsMarkOptions(ppd_.get(), opts_->count(), opts_->options());
    if (ppd_choice_t* choice = ppdFindMarkedChoice(ppd_.get(), name)) {
      LogRecord(debug, "get opt from ppd: {}={}", name, choice->choice);
      return choice->choice;
    }
  }
  LogRecord(debug, "{} not found", OrNull(name));
  return def;
}

template <>
int Dest::get_option<int>(const char* name, const int& def) {
  std::string text = get_option<std::string>(name, std::string());
  if (text.empty()) return def;
  return ChoiceToInt(name, text, def);
}

int ChoiceToInt(const char* name, const std::string& text, int def) {
  try {
    return std::stoi(text, nullptr, 10);
  } catch (const std::invalid_argument&) {
    LogRecord(warn, "{}={} is not a decimal number, using {}", OrNull(name), text, def);
  } catch (const std::out_of_range&) {
    LogRecord(warn, "{}={} is out of range, using {}", OrNull(name), text, def);
  }
  return def;
}

}  // namespace cups
