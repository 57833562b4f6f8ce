# shellcheck shell=bash
# Sourced by the tests of this folder that print the CUPS test page on a
# private cupsd (testpage_e2e.sh, load_queues.sh).
#
#   queue_test_setup NAME TOOL...
#
# Exits 77 (skipped) unless every TOOL is on the PATH, the test page is
# there and the test runs as root (cupsd runs filters unprivileged only when
# started by root). Then it sources scripts/lib/private-cupsd.sh and
# scripts/lib/quill-models.sh and sets
#   testpage  the CUPS test page
#   tmp       a new folder /tmp/quill-NAME-XXXXXX, others may enter it,
#             removed on exit (after the server is stopped)
# and defines fail MESSAGE: the message, the server's job and error lines
# (the last 60), exit 1.

queue_test_setup() {
  local name=$1 tool lib
  shift
  lib=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib" && pwd)
  testpage=/usr/share/cups/data/default-testpage.pdf
  for tool in /usr/sbin/cupsd /usr/sbin/lpadmin /usr/bin/lp /usr/bin/lpstat "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  [[ -r "$testpage" ]] || { echo "SKIP: no CUPS test page ($testpage)"; exit 77; }
  [[ $(id -u) -eq 0 ]] || { echo "SKIP: a private cupsd needs root to run its filters"; exit 77; }

  # shellcheck source=../../scripts/lib/private-cupsd.sh
  source "$lib/private-cupsd.sh"
  # shellcheck source=../../scripts/lib/quill-models.sh
  source "$lib/quill-models.sh"

  tmp=$(mktemp -d "/tmp/quill-$name-XXXXXX")
  chmod 755 "$tmp"
  trap 'rm -rf "$tmp"' EXIT
}

fail() {
  echo "FAIL: $*" >&2
  if [[ -f "${PCUPSD_LOG:-}" ]]; then
    echo "--- cupsd: job and error lines (last 60)" >&2
    grep -E '^E |\[Job [0-9]+\]' "$PCUPSD_LOG" | tail -n 60 >&2
  fi
  exit 1
}
