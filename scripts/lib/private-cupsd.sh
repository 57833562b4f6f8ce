# shellcheck shell=bash
# Sourced, not run: a private CUPS scheduler for scripts and tests.
#
#   source scripts/lib/private-cupsd.sh
#   pcupsd_start ROOT [options]      # starts it; exports CUPS_SERVER
#   pcupsd_add_queue NAME PPD OUT [lpadmin options...]
#   pcupsd_submit QUEUE FILE [lp options...]   # prints the job id
#   pcupsd_wait_jobs SECONDS         # until no job is pending
#   pcupsd_stop                      # also run on exit (trap)
#
# pcupsd_start makes ROOT (a new, empty folder: its parent must let every
# user through, CUPS runs filters unprivileged) into the server's whole
# world: conf/ (cupsd.conf, cups-files.conf), spool/, log/, cache/, state/.
# The server listens on a Unix socket ROOT/cups.sock (default) or on a free
# loopback port, nowhere else, takes file: devices (FileDevice Yes) and lets
# anyone who reaches it administer it: it exists only for the caller, in a
# folder only root can write to. Options:
#   --port              listen on 127.0.0.1:<a free port> instead of the socket
#   --log-level LEVEL   LogLevel (default debug: the filters' messages land in
#                       ROOT/log/error_log, which callers read)
#   --serverbin DIR     the ServerBin whose entries the server gets (default
#                       `cups-config --serverbin`)
#   --filter FILE       (repeatable) FILE also runs as ROOT/serverbin/filter/
#                       <its name>: ServerBin becomes a link farm of DIR's
#                       entries, filters and backends plus these. Without
#                       --filter or --backend the server uses DIR itself.
#   --backend FILE      (repeatable) FILE is also the backend ROOT/serverbin/
#                       backend/<its name> (the URI scheme of its devices),
#                       with a link farm as for --filter
#   --datadir DIR       the DataDir (default `cups-config --datadir`)
#   --model DIR         model/ of the DataDir is DIR: DataDir becomes a link
#                       farm of DIR's other entries
#   --conf LINE         (repeatable) one more line of cupsd.conf
# It waits (at most 30 s) until lpstat -r says the server is running, and returns 1
# with the server's output on stderr when it does not. It sets PCUPSD_PID
# (the server's pid), PCUPSD_ROOT, PCUPSD_LOG (the error log) and exports
# CUPS_SERVER, so lp, lpadmin and lpstat talk to this server.
#
# The server is stopped by its pid on exit: pcupsd_start sets an EXIT trap
# that stops it and then runs the EXIT trap the caller had set before (set
# yours first, e.g. one removing ROOT's parent). Call pcupsd_stop to stop it
# earlier. Every wait is bounded.

PCUPSD_PID=
export PCUPSD_ROOT=
PCUPSD_LOG=
_pcupsd_prev_exit_trap=

_pcupsd_fail() {
  echo "private-cupsd: $*" >&2
  return 1
}

# _pcupsd_free_port: a loopback port nobody answers on.
_pcupsd_free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
  done
  return 1
}

# _pcupsd_farm SRC DEST KEEP-OUT: DEST holds a link to every entry of SRC but KEEP-OUT.
_pcupsd_farm() {
  local entry
  mkdir -p "$2"
  for entry in "$1"/*; do
    [[ "$(basename "$entry")" == "$3" ]] || ln -s "$entry" "$2/"
  done
}

# _pcupsd_answers: true when the server answers (lpstat -r exits 0 either
# way; only its words tell).
_pcupsd_answers() {
  [[ "$(lpstat -r 2>/dev/null)" == "scheduler is running" ]]
}

pcupsd_start() {
  local root=$1
  shift
  local use_port=0 log_level=debug model="" conf_lines=() filters=() backends=()
  local serverbin datadir
  serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
  datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
  while [[ $# -gt 0 ]]; do
    case $1 in
      --port) use_port=1 ;;
      --log-level) log_level=$2; shift ;;
      --serverbin) serverbin=$2; shift ;;
      --filter) filters+=("$2"); shift ;;
      --backend) backends+=("$2"); shift ;;
      --datadir) datadir=$2; shift ;;
      --model) model=$2; shift ;;
      --conf) conf_lines+=("$2"); shift ;;
      *) _pcupsd_fail "unknown option $1"; return 1 ;;
    esac
    shift
  done
  [[ -n "$PCUPSD_PID" ]] && { _pcupsd_fail "a private cupsd runs already ($PCUPSD_PID)"; return 1; }

  mkdir -p "$root"/{conf,spool/tmp,log,cache,state}
  PCUPSD_ROOT=$root
  PCUPSD_LOG=$root/log/error_log

  local server_serverbin=$serverbin server_datadir=$datadir f
  if [[ ${#filters[@]} -gt 0 || ${#backends[@]} -gt 0 ]]; then
    server_serverbin=$root/serverbin
    mkdir -p "$server_serverbin"
    for f in "$serverbin"/*; do
      case $(basename "$f") in
        filter | backend) _pcupsd_farm "$f" "$server_serverbin/$(basename "$f")" "" ;;
        *) ln -s "$f" "$server_serverbin/" ;;
      esac
    done
    for f in "${filters[@]}"; do
      ln -sf "$f" "$server_serverbin/filter/"
    done
    for f in "${backends[@]}"; do
      ln -sf "$f" "$server_serverbin/backend/"
    done
  fi
  if [[ -n "$model" ]]; then
    server_datadir=$root/data
    _pcupsd_farm "$datadir" "$server_datadir" model
    ln -s "$model" "$server_datadir/model"
  fi
  chmod -R go-w,a+rX "$root"

  local listen allow
  if [[ $use_port -eq 1 ]]; then
    local port
    port=$(_pcupsd_free_port) || { _pcupsd_fail "no free loopback port"; return 1; }
    listen=127.0.0.1:$port allow=127.0.0.1
  else
    listen=$root/cups.sock allow=all
  fi

  # PassEnv: cupsd starts filters with an environment of its own; the
  # sanitizer stage's settings (scripts/test.sh) reach our filters this way.
  cat >"$root/conf/cups-files.conf" <<EOF
ServerRoot $root/conf
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
ServerBin $server_serverbin
DataDir $server_datadir
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
Printcap $root/printcap
FileDevice Yes
SystemGroup root
PassEnv ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
EOF
  {
    cat <<EOF
LogLevel $log_level
Listen $listen
Browsing No
WebInterface No
DefaultAuthType None
EOF
    printf '%s\n' "${conf_lines[@]}"
    cat <<EOF
<Location />
  Order allow,deny
  Allow $allow
</Location>
<Location /admin>
  Order allow,deny
  Allow $allow
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  } >"$root/conf/cupsd.conf"

  # Stop the server on exit, then do what the caller's EXIT trap did.
  local old
  old=$(trap -p EXIT)
  if [[ -n "$old" ]]; then
    eval "set -- $old"
    _pcupsd_prev_exit_trap=$3
  fi
  trap 'pcupsd_stop; eval "$_pcupsd_prev_exit_trap"' EXIT

  /usr/sbin/cupsd -f -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" \
    >"$root/log/stdout" 2>&1 &
  PCUPSD_PID=$!
  export CUPS_SERVER=$listen
  for _ in $(seq 150); do
    _pcupsd_answers && return 0
    kill -0 "$PCUPSD_PID" 2>/dev/null || break
    sleep 0.2
  done
  _pcupsd_answers && return 0
  cat "$root/log/stdout" >&2
  _pcupsd_fail "cupsd does not answer on $listen"
}

# pcupsd_stop: stops the server by its pid (TERM, after 20 s KILL); no-op
# when none runs. Unsets CUPS_SERVER.
pcupsd_stop() {
  [[ -n "$PCUPSD_PID" ]] || return 0
  kill -TERM "$PCUPSD_PID" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$PCUPSD_PID" 2>/dev/null || break
    sleep 0.2
  done
  kill -KILL "$PCUPSD_PID" 2>/dev/null || true
  wait "$PCUPSD_PID" 2>/dev/null || true
  PCUPSD_PID=
  unset CUPS_SERVER
}

# pcupsd_add_queue NAME PPD OUT [lpadmin options...]: an enabled queue NAME
# with the PPD file PPD whose jobs are written to the file OUT (made empty
# and writable for the filters' user). lpadmin's deprecation warning about
# PPD drivers is dropped; anything else it says goes to stderr.
pcupsd_add_queue() {
  local name=$1 ppd=$2 out=$3
  shift 3
  : >"$out"
  chmod 0666 "$out"
  local msg status=0
  msg=$(timeout 60 lpadmin -p "$name" -E -v "file://$out" -P "$ppd" "$@" 2>&1) || status=$?
  grep -v 'Printer drivers are deprecated' <<<"$msg" >&2 || true
  [[ $status -eq 0 ]] || _pcupsd_fail "lpadmin -p $name failed"
}

# pcupsd_submit QUEUE FILE [lp options...]: prints FILE on QUEUE; writes the
# job id (the number) to stdout.
pcupsd_submit() {
  local queue=$1 file=$2 request
  shift 2
  request=$(timeout 60 lp -d "$queue" "$@" "$file") || { _pcupsd_fail "lp -d $queue $file"; return 1; }
  sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p' <<<"$request"
}

# pcupsd_wait_jobs SECONDS: waits until the server has no pending, held or
# processing job, at most SECONDS. Returns 0 when none is left, else 1
# with the jobs still there (lpstat -l -o) on stderr. A job that is stopped
# (its filter failed and the queue's error policy stops the printer) stays;
# the wait ends early when the server says so.
pcupsd_wait_jobs() {
  local deadline=$((SECONDS + $1))
  while ((SECONDS < deadline)); do
    [[ -z "$(lpstat -o 2>/dev/null)" ]] && _pcupsd_answers && return 0
    grep -q '\] Job stopped' "$PCUPSD_LOG" 2>/dev/null && break
    sleep 0.2
  done
  [[ -z "$(lpstat -o 2>/dev/null)" ]] && _pcupsd_answers && return 0
  echo "private-cupsd: jobs not done (waited at most $1 s):" >&2
  lpstat -l -o >&2 || true
  return 1
}

# pcupsd_job_state ID: the job's state as its error log line tells it
# ("completed", "aborted", "canceled", "stopped", or "" while it runs).
pcupsd_job_state() {
  grep -oE "\[Job $1\] Job (completed|aborted|canceled|stopped)" "$PCUPSD_LOG" | tail -1 |
    sed 's/.* Job //'
}
