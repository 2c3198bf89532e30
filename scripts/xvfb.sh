# Sourced, not run: starts a virtual X display of our own for the scripts that draw windows.
# start_xvfb DIR SCREEN starts Xvfb (SCREEN like 1024x768x24) on a display it picks itself;
# Xvfb writes the display's number once it accepts clients. Sets xvfb_pid (for the caller's
# clean-up) and, when it started within 10 s, xvfb_display (":N"); returns 1 when it did not,
# with its output in DIR/xvfb.log.
start_xvfb() {
  local dir=$1 screen=$2
  xvfb_display=
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$dir/display" ] || return 1
  xvfb_display=:$(tr -d '[:space:]' <"$dir/display")
}
