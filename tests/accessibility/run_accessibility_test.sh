#!/usr/bin/env bash
# Runs accessibility_probe on a private X server, session bus and accessibility bus, and checks
# what a screen reader sees of it with check_accessible.py. Everything it starts it stops.
#   run_accessibility_test.sh PROBE CHECK_SCRIPT
# Exit status 77 means skipped (a needed program is missing).
set -euo pipefail

probe=$1
check=$2

# pyatspi comes from the distribution: use the system interpreter, not a user's own python3.
python=/usr/bin/python3
if [ -z "${BRINDLEWICK_A11Y_INNER:-}" ]; then
  for tool in dbus-run-session xvfb-run xauth "$python"; do
    if ! command -v "$tool" >/dev/null; then
      echo "accessibility test skipped: $tool is missing (run scripts/setup)" >&2
      exit 77
    fi
  done
  if [ ! -x /usr/libexec/at-spi-bus-launcher ] || ! "$python" -c 'import pyatspi' 2>/dev/null; then
    echo "accessibility test skipped: at-spi2-core or python3-pyatspi is missing (run scripts/setup)" >&2
    exit 77
  fi

  scratch=$(mktemp -d "${TMPDIR:-/tmp}/brindlewick-a11y.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  trap 'exit 143' TERM INT
  mkdir -m 700 "$scratch/runtime" "$scratch/home"
  export XDG_RUNTIME_DIR="$scratch/runtime" HOME="$scratch/home"
  export XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache"
  export XDG_DATA_HOME="$scratch/home/.local/share"
  unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
  export BRINDLEWICK_A11Y_INNER=1
  # A private session bus, and inside it a private X server on a free display.
  # (Not exec: the trap above removes the scratch folder afterwards.)
  # xvfb-run can lose the race for a free display to another X server starting at the same
  # moment; a second attempt on a fresh display tells that apart from a real failure.
  status=0
  for attempt in 1 2; do
    status=0
    dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
      "$0" "$@" || status=$?
    if [ "$status" -eq 0 ] || [ "$status" -eq 77 ]; then
      break
    fi
    echo "accessibility test: attempt $attempt ended with status $status" >&2
  done
  exit "$status"
fi

# Inside the private session bus and X server.
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The accessibility bus (and through it the registry) for this session.
/usr/libexec/at-spi-bus-launcher --launch-immediately &
pids+=($!)

export QT_QPA_PLATFORM=xcb
export QT_ACCESSIBILITY=1
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORMTHEME
"$probe" &
probe_pid=$!
pids+=("$probe_pid")

# The check waits (polling, with a time limit) for the probe to appear on the bus.
"$python" "$check" --pid "$probe_pid"
