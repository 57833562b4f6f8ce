# shellcheck shell=bash
# Sourced, not run: a private quill-printer-app for scripts and tests.
#
#   app_start TMP        starts the application on a free loopback port with
#                        its state, spool, socket, log and raster copies
#                        under TMP; sets APP_PORT, APP_PID
#   app_cmd ARGS...      runs a sub-command against it (add, printers, ...)
#   app_drivers          the driver names, one per line
#   app_stop             shuts it down (by its pid if it does not go)
#   app_uri PRINTER      ipp://localhost:PORT/ipp/print/PRINTER
#   app_print PRINTER FILE [ATTR...]
#                        Print-Job with job attributes "type name value", waits
#                        for the job to end; prints "JOBID STATE"
# The program is $APP_PROGRAM (default $build/app/quill-printer-app, the
# build tree's), the PPDs it reads quilldot's printers from $APP_PPD_DIR
# (default $build/ppd).

# The program runs under a name of its own: PAPPL names the sub-commands'
# socket after the program (for root /run/NAME.sock, otherwise in
# XDG_RUNTIME_DIR), so the test's server and commands never meet a system
# instance or another test's.
#
# In a sanitizer build the application runs without leak detection: PAPPL
# 1.3 loses the sub-commands' options and, at shutdown, objects of its own;
# a leak report would end each program with LeakSanitizer's status (and
# without the output it still held). Memory errors and undefined behaviour
# still stop it; the library, host/ and quilldot code it runs are leak-checked
# by the rest of the sanitizer suite.
APP_ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
app_cmd() {
  ASAN_OPTIONS=$APP_ASAN_OPTIONS XDG_RUNTIME_DIR="$APP_TMP/run" "$APP_BIN" "$@"
}

# The drivers sub-command makes the system to read the drivers from it: it
# gets the server's state file and the loopback, so that it neither touches
# the system's state folder nor binds a public port.
app_drivers() {
  app_cmd drivers -o state-file="$APP_TMP/app.state" -o listen-hostname=localhost \
    -o server-port="$APP_PORT" | awk '{ print $1 }'
}

app_uri() { echo "ipp://localhost:$APP_PORT/ipp/print/$1"; }

app_start() {
  APP_TMP=$1
  mkdir -p "$APP_TMP/run" "$APP_TMP/spool" "$APP_TMP/ras" "$APP_TMP/bin"
  chmod 700 "$APP_TMP/run"
  APP_BIN="$APP_TMP/bin/quill-app-test-$$-$RANDOM"
  local program=${APP_PROGRAM:-$build/app/quill-printer-app}
  ln -sf "$(cd "$(dirname "$program")" && pwd)/$(basename "$program")" "$APP_BIN"
  local try
  for try in 1 2 3 4 5; do
    APP_PORT=$((20000 + RANDOM % 20000))
    ASAN_OPTIONS=$APP_ASAN_OPTIONS XDG_RUNTIME_DIR="$APP_TMP/run" QUILL_PPD_DIR="${APP_PPD_DIR:-$build/ppd}" \
      QUILL_APP_RASTER_DIR="$APP_TMP/ras" "$APP_BIN" server -o server-port="$APP_PORT" \
      -o listen-hostname=localhost -o server-options=no-tls \
      -o spool-directory="$APP_TMP/spool" -o log-file="$APP_TMP/app.log" -o log-level=debug \
      -o state-file="$APP_TMP/app.state" >"$APP_TMP/server.out" 2>&1 &
    APP_PID=$!
    local i
    for i in $(seq 1 50); do
      if ! kill -0 "$APP_PID" 2>/dev/null; then break; fi
      # Only once the server listens: a sub-command that finds no server
      # would start one of its own.
      local name
      name=$(basename "$APP_BIN")
      if [[ -S "/run/$name.sock" || -S "$APP_TMP/run/$name.sock" ]] &&
         (exec 3<>"/dev/tcp/127.0.0.1/$APP_PORT") 2>/dev/null; then
        sleep 1  # printer-up-time counts whole seconds; IPP checks want it above 0
        return 0
      fi
      sleep 0.2
    done
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
  done
  return 1
}

app_stop() {
  [[ -n "${APP_PID:-}" ]] || return 0
  app_cmd shutdown >/dev/null 2>&1 || true
  local i
  for i in $(seq 1 50); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=
}

# app_print PRINTER FILE [TYPE NAME VALUE]...
app_print() {
  local printer=$1 file=$2 test
  shift 2
  test=$(mktemp "$APP_TMP/print.XXXXXX")
  {
    echo '{ NAME "Print-Job" OPERATION Print-Job'
    echo '  GROUP operation-attributes-tag'
    echo '  ATTR charset attributes-charset utf-8'
    echo '  ATTR naturalLanguage attributes-natural-language en'
    echo '  ATTR uri printer-uri $uri'
    echo '  ATTR name requesting-user-name $user'
    echo '  ATTR mimeMediaType document-format $filetype'
    echo '  GROUP job-attributes-tag'
    while [[ $# -ge 3 ]]; do
      echo "  ATTR $1 $2 $3"
      shift 3
    done
    echo '  FILE $filename'
    echo '  STATUS successful-ok'
    echo '  EXPECT job-id'
    echo '}'
    echo '{ NAME "Wait" OPERATION Get-Job-Attributes'
    echo '  DELAY "0.1,0.2"'
    echo '  GROUP operation-attributes-tag'
    echo '  ATTR charset attributes-charset utf-8'
    echo '  ATTR naturalLanguage attributes-natural-language en'
    echo '  ATTR uri printer-uri $uri'
    echo '  ATTR integer job-id $job-id'
    echo '  ATTR name requesting-user-name $user'
    echo '  STATUS successful-ok'
    echo '  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600'
    echo '  DISPLAY job-id'
    echo '  DISPLAY job-state'
    echo '}'
  } >"$test"
  ipptool -c -T 30 -f "$file" "$(app_uri "$printer")" "$test" | tail -1 | tr ',' ' '
  rm -f "$test"
}

# app_defaults PRINTER: "XRESxYRES MEDIA COLOR-MODE" of the printer.
app_defaults() {
  local test
  test=$(mktemp "$APP_TMP/defaults.XXXXXX")
  cat >"$test" <<'TEST'
{ NAME "Defaults" OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-resolution-default,media-default,print-color-mode-default
  STATUS successful-ok
  DISPLAY printer-resolution-default
  DISPLAY media-default
  DISPLAY print-color-mode-default
}
TEST
  ipptool -c -T 10 "$(app_uri "$1")" "$test" | tail -1 | tr ',' ' ' | sed 's/dpi//'
  rm -f "$test"
}
