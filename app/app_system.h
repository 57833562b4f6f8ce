// app_system.h - the PAPPL system of quill-printer-app: listeners, spool,
// state file, log, drivers and document filters.
#ifndef QUILL_APP_APP_SYSTEM_H_
#define QUILL_APP_APP_SYSTEM_H_

#include <pappl/pappl.h>

namespace quill_app {

// PAPPL's system callback for `quill-printer-app server`. Reads the server
// options of the command line (-o NAME=VALUE): "server-name",
// "server-hostname", "listen-hostname" (default: every address; "localhost"
// for loopback only), "server-port" (default 8000 + a number from the
// user ID, as PAPPL picks it, for 0), "spool-directory", "log-file" ("-"
// for standard error; default syslog), "log-level", "state-file" (default
// $STATE_DIRECTORY/quill-printer-app.state under systemd, else
// /var/lib/quill-printer-app/quill-printer-app.state for root, else
// $XDG_CONFIG_HOME or ~/.config/quill-printer-app.state), "auth-service",
// "server-options" (comma-separated: dnssd-host, raw-socket, web-network,
// web-remote, web-tls, no-tls).
// Loads the state file (printers and their defaults), saves it on every
// change, registers the drivers and the PDF filter and routes the library's
// "quill" log into the system log. Returns null when the system cannot be
// made.
pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data);

}  // namespace quill_app

#endif  // QUILL_APP_APP_SYSTEM_H_
