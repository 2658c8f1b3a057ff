# Sourced by the scripts that need a virtual X display.

# Starts Xvfb with a screen of $1 (such as 1024x768x24) on a display number
# it finds free, waits until it is ready, and exports DISPLAY. Sets $xvfb to
# its process id, for the caller to kill.
start_virtual_display() {
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$display_file" \
    >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
  done
  if [ ! -s "$display_file" ]; then
    rm -f "$display_file"
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(cat "$display_file")"
  rm -f "$display_file"
}
