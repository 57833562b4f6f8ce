# shellcheck shell=bash
# Sourced, not run: how the CUPS test page is printed through each generated
# PPD, shared by scripts/demo.sh and the end-to-end tests of tests/ppd/.
#
# A model is a PPD's name without "quill-" and ".ppd" (quill-ink3.ppd: ink3).
# Some settings exist only in a print server: quillfilter reads
# CustomColorMode from the destination, quilldot reads the queue's PPD
# defaults and options (the receipt printers' Cutting default 6, a cut after
# every page). Those models print through a queue of a private cupsd; the
# others through cupsfilter alone.

# quill_model PPD-PATH: the model name of a PPD file.
quill_model() {
  local name
  name=$(basename "$1" .ppd)
  echo "${name#quill-}"
}

# quill_needs_queue MODEL: true for the models whose test-page job needs a
# print queue (see above).
quill_needs_queue() {
  case $1 in ink3 | rp80 | rp58) return 0 ;; *) return 1 ;; esac
}

# quill_queue_options MODEL: the lpadmin options of MODEL's queue, one word
# each ("-o" "name=value"), one per line: ink3 prints in black and red.
quill_queue_options() {
  case $1 in ink3) printf '%s\n' -o CustomColorMode=2 ;; esac
}
