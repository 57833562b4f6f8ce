// app_system.cpp - the PAPPL system of quill-printer-app.
#include "app_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "drivers.h"
#include "pdf_filter.h"

namespace quill_app {
namespace {

// The library's records ("quill" logger) as PAPPL system log lines.
class PapplSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit PapplSink(pappl_system_t* system) : system_(system) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    pappl_loglevel_t level = PAPPL_LOGLEVEL_DEBUG;
    switch (msg.level) {
      case spdlog::level::critical: level = PAPPL_LOGLEVEL_FATAL; break;
      case spdlog::level::err: level = PAPPL_LOGLEVEL_ERROR; break;
      case spdlog::level::warn: level = PAPPL_LOGLEVEL_WARN; break;
      case spdlog::level::info: level = PAPPL_LOGLEVEL_INFO; break;
      default: break;
    }
    std::string text(msg.payload.data(), msg.payload.size());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    papplLog(system_, level, "[quill] %s", text.c_str());
  }
  void flush_() override {}

 private:
  pappl_system_t* system_;
};

void RouteLibraryLog(pappl_system_t* system, pappl_loglevel_t level) {
  auto logger = std::make_shared<spdlog::logger>("quill", std::make_shared<PapplSink>(system));
  logger->set_level(level <= PAPPL_LOGLEVEL_DEBUG ? spdlog::level::debug : spdlog::level::info);
  spdlog::drop("quill");
  spdlog::register_logger(logger);
}

const char* Option(const char* name, int num_options, cups_option_t* options) {
  const char* value = cupsGetOption(name, num_options, options);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string DefaultStateFile() {
  const char* state_dir = std::getenv("STATE_DIRECTORY");  // systemd's StateDirectory=
  if (state_dir != nullptr && *state_dir != '\0') {
    std::string dir(state_dir);
    dir = dir.substr(0, dir.find(':'));  // several folders are listed with ':'
    return dir + "/quill-printer-app.state";
  }
  if (getuid() == 0) {
    mkdir("/var/lib/quill-printer-app", 0700);
    return "/var/lib/quill-printer-app/quill-printer-app.state";
  }
  std::string dir;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && *xdg != '\0') {
    dir = xdg;
  } else if (home != nullptr && *home != '\0') {
    dir = std::string(home) + "/.config";
  } else {
    dir = "/tmp";
  }
  mkdir(dir.c_str(), 0700);
  return dir + "/quill-printer-app.state";
}

pappl_loglevel_t LevelOf(const char* text) {
  if (text == nullptr) return PAPPL_LOGLEVEL_WARN;
  if (std::strcmp(text, "debug") == 0) return PAPPL_LOGLEVEL_DEBUG;
  if (std::strcmp(text, "info") == 0) return PAPPL_LOGLEVEL_INFO;
  if (std::strcmp(text, "error") == 0) return PAPPL_LOGLEVEL_ERROR;
  if (std::strcmp(text, "fatal") == 0) return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_WARN;
}

// "server-options": a comma-separated list of PAPPL system options.
pappl_soptions_t ServerOptions(const char* list) {
  static const struct {
    const char* name;
    pappl_soptions_t value;
  } kNames[] = {{"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST}, {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET},
                {"web-network", PAPPL_SOPTIONS_WEB_NETWORK},
                {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE}, {"web-tls", PAPPL_SOPTIONS_WEB_TLS},
                {"no-tls", PAPPL_SOPTIONS_NO_TLS}};
  pappl_soptions_t options = PAPPL_SOPTIONS_NONE;
  if (list == nullptr) return options;
  std::string rest(list);
  while (!rest.empty()) {
    const std::string::size_type comma = rest.find(',');
    const std::string word = rest.substr(0, comma);
    rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    for (const auto& n : kNames) {
      if (word == n.name) options |= n.value;
    }
  }
  return options;
}

// The state file's path lives as long as the system.
std::string& StateFile() {
  static std::string path;
  return path;
}

bool SaveState(pappl_system_t* system, void* data) {
  return papplSystemSaveState(system, static_cast<const char*>(data));
}

}  // namespace

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* /*data*/) {
  const char* name = Option("server-name", num_options, options);
  const char* port_text = Option("server-port", num_options, options);
  const char* spool = Option("spool-directory", num_options, options);
  const char* log_file = Option("log-file", num_options, options);
  const pappl_loglevel_t level = LevelOf(Option("log-level", num_options, options));
  const char* auth = Option("auth-service", num_options, options);
  const int port = port_text != nullptr ? std::atoi(port_text) : 0;

  const pappl_soptions_t soptions =
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
      PAPPL_SOPTIONS_WEB_SECURITY | ServerOptions(Option("server-options", num_options, options));
  pappl_system_t* system =
      papplSystemCreate(soptions, name != nullptr ? name : "Quill Printer Application", port,
                        "_print,_universal", spool, log_file, level, auth, false);
  if (system == nullptr) return nullptr;

  const char* listen = Option("listen-hostname", num_options, options);
  papplSystemAddListeners(system, listen);
  const char* host = Option("server-hostname", num_options, options);
  if (host != nullptr) papplSystemSetHostName(system, host);

  const std::vector<pappl_pr_driver_t>& list = DriverList();
  papplSystemSetPrinterDrivers(system, static_cast<int>(list.size()),
                               const_cast<pappl_pr_driver_t*>(list.data()), AutoAddCallback,
                               CreatePrinter, DriverCallback, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PdfFilter, nullptr);

  pappl_version_t version = {};
  std::strncpy(version.name, "Quill Printer Application", sizeof version.name - 1);
  std::strncpy(version.sversion, QUILL_VERSION, sizeof version.sversion - 1);
  papplSystemSetVersions(system, 1, &version);
  papplSystemSetFooterHTML(system, "Quill printer drivers, served by PAPPL.");

  RouteLibraryLog(system, level);

  const char* state = Option("state-file", num_options, options);
  StateFile() = state != nullptr ? state : DefaultStateFile();
  papplSystemLoadState(system, StateFile().c_str());
  papplSystemSetSaveCallback(system, SaveState, const_cast<char*>(StateFile().c_str()));
  return system;
}

}  // namespace quill_app
