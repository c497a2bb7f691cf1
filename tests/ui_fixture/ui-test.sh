#!/usr/bin/env bash
# Runs one window test under Wine; starts its own X display when there is none.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
exec "$(dirname "$0")/wine-run.sh" "$@"
