# The start shared by the scripts that run the real saver under Xvfb (sourced, not run):
# a work folder removed at exit together with every process the script started, settings and
# runtime folders of its own there, and an Xvfb on a display that it picks itself.
#
# The sourcing script sets `tool` (its name, for messages) first. Afterwards it has:
#   $work             the work folder
#   pids              an array: append each process started, it is ended at exit
#   start_xvfb WxH    starts Xvfb; sets $xvfb (its process) and $display (":N")
#   stop_xvfb         ends that Xvfb and waits until its display is free

work=$(mktemp -d)
pids=()
xvfb_cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap xvfb_cleanup EXIT

command -v Xvfb >/dev/null || { echo "$tool: Xvfb is not installed" >&2; exit 1; }

# The saver's settings, lock and home stay inside the work folder.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" HOME="$work"
mkdir -p "$XDG_CONFIG_HOME/Velnori" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

start_xvfb() {  # Xvfb picks a free display and names it on a pipe when it is ready
  local fifo="$work/displayfd" n i
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  read -r -t 10 n <"$fifo" || { echo "$tool: could not start Xvfb" >&2; exit 1; }
  display=":$n"
  # The socket of a server that just ended may linger a moment; wait for ours.
  for i in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
}

stop_xvfb() {
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  local n=${display#:} i
  for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] || break; sleep 0.1; done
}
