#!/usr/bin/env bash
# Measures the processor time the saver uses while it plays shows under Xvfb: in window mode
# and in the stretched full-screen mode, each for a stretch of wall time, counting the X
# server's share too: (saver CPU + Xvfb CPU) / wall time, in percent of one core. Also reports
# how punctual the passes were (none should come more than one tick after its deadline).
# The saver picks its shows in a random order, so one run measures whichever came up; with
# --per-show each show of the data folder is measured on its own (in a copy of the folder that
# holds that script alone), which makes the figures comparable from run to run. The saver's
# environment is passed on: ONDRELIX_NO_SHM=1 measures the picture sent without shared memory,
# ONDRELIX_RENDER=1 and ONDRELIX_NO_RENDER=1 choose who stretches the full-screen frame.
# Each line also gives the CPU time of one pass (saver plus Xvfb), steadier from run to run than
# the percentage when the number of passes differs, and how many window pixels a pass sent to
# the server on average (what changed on the screen).
#
# --show NAME measures that show alone (script_NAME.txt), --mode N one mode instead of both.
#
# --whole-show measures each show from its start to its end (one whole play, without the pause
# after it and the reload of the next), instead of a stretch of wall time after a warm-up: which
# stretch of a show a fixed time lands on depends on how fast the saver started, so the same show
# could read a quiet part in one run and a busy one in the next; a whole play is the same pictures
# every time. Implies --per-show; --seconds is then the longest a play may last.
#
# --pin runs the X server and the saver on one processor. On a virtual machine a frame that wakes
# the other processor costs much more than one that does not, and where the scheduler puts the
# two decides it: unpinned, the same build reads up to half again as much from run to run; pinned,
# within a few percent. Use it to compare builds.
#
# --floor measures, instead of the saver, what showing a frame costs at all here: x_frame_floor
# (built beside the saver) shows a frame of the mode's size whose every pixel changes, 30 times
# a second, through shared memory as the saver does. A show whose frame changes whole cannot
# cost less than that; read the shows' figures against it. --floor-pixels N changes and puts only a
# square of about N window pixels a frame instead (a show's "pixels shown a pass"; 1 leaves the
# cost of the wake-ups and requests alone).
#
# usage: tools/measure-cpu.sh [--build DIR] [--data DIR] [--seconds N] [--screen WxH]
#                             [--per-show | --show NAME | --floor | --floor-pixels N]
#                             [--mode N] [--pin]
#                             [--whole-show]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=""
data=""
seconds=""
screen=1280x1024
warmup=4
per_show=0
only_show=""
modes="4 2"
floor=0
floor_pixels=0
pin=0
whole=0
args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --per-show) per_show=1; shift ;;
    --show) per_show=1; only_show=$2; shift 2 ;;
    --mode) modes=$2; shift 2 ;;
    --floor) floor=1; shift ;;
    --floor-pixels) floor=1; floor_pixels=$2; shift 2 ;;
    --pin) pin=1; shift ;;
    --whole-show) whole=1; per_show=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--data DIR] [--seconds N] [--screen WxH] [--per-show | --show NAME | --floor | --floor-pixels N] [--mode N] [--pin] [--whole-show]" >&2; exit 2 ;;
  esac
done
if [ -z "$seconds" ]; then
  if [ "$whole" = 1 ]; then seconds=300; else seconds=20; fi
fi
# Pinned: the script runs again on the first processor it may use, and all it starts stays there.
if [ "$pin" = 1 ] && [ -z "${MEASURE_CPU_PINNED:-}" ]; then
  first=$(taskset -cp $$ | sed 's/.*: //; s/[-,].*//')
  MEASURE_CPU_PINNED=$first exec taskset -c "$first" "$0" "${args[@]}"
fi

if [ -z "$build" ]; then
  for d in "$here/build" "$here"/build-*; do
    if [ -x "$d/ondrelix" ]; then build=$d; break; fi
  done
fi
program="$build/ondrelix"
[ -x "$program" ] || { echo "measure-cpu: no ondrelix program (build it, or give --build DIR)" >&2; exit 1; }
if [ "$floor" = 1 ] && [ ! -x "$build/x_frame_floor" ]; then
  echo "measure-cpu: no x_frame_floor program in $build (built with the benchmarks)" >&2
  exit 1
fi

tool=measure-cpu
. "$here/tools/lib/xvfb.sh"

# The shows: the bundled demo folder when it holds scripts, else a small show of our own.
if [ -z "$data" ]; then
  if ls "$here"/examples/script_*.txt "$here"/examples/*/script_*.txt >/dev/null 2>&1; then
    data="$here/examples"
  else
    data="$work/data"
    mkdir -p "$data"
    cat > "$data/script_measure.txt" <<'EOF'
<DATA TITLE="Measure" VERSION="1.10">
<SOLID COLOR=MIDNIGHTBLUE>
<IMAGE STRING="Ondrelix" TIME=60 SIZE=200 CONTRAST=FADEINOUT>
<SET ANGLE=360 TIME=60>
</IMAGE>
<SCRTEXT TIME=60 SPEED=30>
A text that scrolls up<BR>
and recedes toward the horizon,<BR>
line after line.<BR>
</SCRTEXT>
</DATA>
EOF
  fi
fi

# GStreamer keeps a registry of its plugins in the home folder, which is a fresh one here: the
# saver would rebuild it at every start, reading the plugin scanner's answers for several
# seconds, well into the stretch measured. A user's saver finds it made; so does ours, made once.
export GST_REGISTRY="$work/gst-registry.bin"
gst-inspect-1.0 >/dev/null 2>&1 || true

# The saver rewrites its pass record every second (written beside, renamed over): on a disk file
# system the journal makes that several times dearer than in memory (tmpfs), where there is one.
records=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  records=$(mktemp -d -p /dev/shm measure-cpu.XXXXXX)
  trap 'xvfb_cleanup; rm -rf "$records"' EXIT
fi

# With the opening logo off, so the whole stretch plays shows.
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n"FlgLogo"=dword:00000000\n' \
  > "$XDG_CONFIG_HOME/Velnori/Pralvex.reg"

# Processor time in nanoseconds, summed over the process's threads (the scheduler's own
# account: /proc/PID/stat rounds to 10 ms ticks, too coarse for runs that use a tenth of a
# second). A thread that ends during the stretch takes its time with it; the saver's threads
# live as long as the show does.
cpu_of() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%d\n", ns }'
}

# Waits until the pass record counts `count` shows started (`what` shows) or ended
# (shows_ended; the saver writes the record at each start and end), for at most `limit` seconds;
# false when they did not come. Reads with the shell's own `read`, so that the wait costs next to
# nothing beside the processes measured.
wait_shows() {  # stats what count limit
  local stats=$1 what=$2 count=$3 tries=$((${4%.*} * 20)) key value
  while [ "$tries" -gt 0 ]; do
    if [ -f "$stats" ]; then
      while read -r key value; do
        [ "$key" = "$what" ] && [ "$value" -ge "$count" ] && return 0
      done <"$stats"
    fi
    sleep 0.05
    tries=$((tries - 1))
  done
  return 1
}

measure() {  # mode label [data folder]
  local mode=$1 label=$2 folder=${3:-$data} stats="$records/stats-$1" try saver
  rm -f "$stats"
  # A display that another server is just leaving can refuse us: then start over.
  for try in 1 2 3; do
    start_xvfb "$screen"
    if [ "$floor" = 1 ]; then
      DISPLAY=$display "$build/x_frame_floor" --mode "$mode" --pixels "$floor_pixels" \
        --record "$stats" >"$work/out-$mode" 2>&1 &
    else
      DISPLAY=$display ONDRELIX_PASS_STATS=$stats "$program" /s --mode "$mode" --data "$folder" \
        >"$work/out-$mode" 2>&1 &
    fi
    saver=$!
    pids+=("$saver")
    if [ "$whole" = 1 ]; then sleep 0.5; else sleep "$warmup"; fi
    kill -0 "$saver" 2>/dev/null && break
    wait "$saver" 2>/dev/null || true
    stop_xvfb
    if [ "$try" = 3 ] || ! grep -q 'could not connect to display' "$work/out-$mode"; then
      echo "measure-cpu: the saver ended early:" >&2
      cat "$work/out-$mode" >&2
      exit 1
    fi
  done
  local s0 x0 t0 s1 x1 t1
  if [ "$whole" = 1 ] && ! wait_shows "$stats" shows 1 30; then
    echo "measure-cpu: $label: no show started within 30 s" >&2
    exit 1
  fi
  s0=$(cpu_of "$saver"); x0=$(cpu_of "$xvfb"); t0=$(date +%s.%N)
  # The pass record is written once a second with the saver's clock beside the count: the
  # pass rate between two records gives the passes of the stretch measured.
  local r0
  r0=$(awk '/^passes/ {p = $2} /^time_ms/ {t = $2} /^pixels_shown/ {n = $2}
            END {print p + 0, t + 0, n + 0}' "$stats" 2>/dev/null || echo "0 0 0")
  if [ "$whole" = 0 ]; then
    sleep "$seconds"
  elif ! wait_shows "$stats" shows_ended 1 "$seconds"; then
    echo "measure-cpu: $label: the show did not end within $seconds s" >&2
    exit 1
  fi
  s1=$(cpu_of "$saver"); x1=$(cpu_of "$xvfb"); t1=$(date +%s.%N)
  sleep 1.1  # one more summary of the pass record
  kill "$saver" 2>/dev/null || true
  wait "$saver" 2>/dev/null || true
  stop_xvfb
  awk -v s0="$s0" -v s1="$s1" -v x0="$x0" -v x1="$x1" -v t0="$t0" -v t1="$t1" \
      -v label="$label" -v r0="$r0" -v statsfile="$stats" \
      -v who="$([ "$floor" = 1 ] && echo client || echo saver)" '
    BEGIN {
      split(r0, r, " ")
      wall = t1 - t0
      saver = (s1 - s0) / 1e9; xs = (x1 - x0) / 1e9
      while ((getline line < statsfile) > 0) { split(line, f, " "); st[f[1]] = f[2] }
      rate = st["time_ms"] > r[2] ? (st["passes"] - r[1]) / (st["time_ms"] - r[2]) * 1000 : 0
      passes = rate * wall
      per_pass = passes > 0 ? 1e6 * (saver + xs) / passes : 0
      shown = st["passes"] > r[1] ? (st["pixels_shown"] - r[3]) / (st["passes"] - r[1]) : 0
      printf "%-24s wall %5.1f s  %s %6.3f s  Xvfb %6.3f s  total %5.2f %% of one core", label, wall, who, saver, xs, 100 * (saver + xs) / wall
      printf "  %4.0f us a pass  %5.0f k pixels shown a pass", per_pass, shown / 1000
      printf "  (passes %d, frames late by more than a tick %d, worst %d ms; longest pass %d ms)\n", passes, st["late_over_one_tick"], st["worst_late_ms"], st["longest_pass_ms"]
    }'
}

if [ "$floor" = 1 ]; then
  what="a frame changing whole"
  [ "$floor_pixels" != 0 ] && what="$floor_pixels pixels of a frame changing"
  echo "measure-cpu: $build/x_frame_floor, $what 30 times a second, screen $screen, ${seconds} s each${MEASURE_CPU_PINNED:+, all on processor $MEASURE_CPU_PINNED}"
  for m in $modes; do measure "$m" "floor ($m)"; done
  exit 0
fi
stretch="${seconds} s each"
[ "$whole" = 1 ] && stretch="each show played once, start to end"
echo "measure-cpu: $program, data $data, screen $screen, $stretch${MEASURE_CPU_PINNED:+, all on processor $MEASURE_CPU_PINNED}"
if [ "$per_show" = 0 ]; then
  for m in $modes; do measure "$m" "mode $m"; done
  exit 0
fi
(cd "$data" && find . -iname "script_${only_show:-*}.txt" | sort) > "$work/shows"
[ -s "$work/shows" ] || { echo "measure-cpu: no script_${only_show:-*}.txt in $data" >&2; exit 1; }
while read -r show; do
  copy="$work/one-show"
  rm -rf "$copy"
  cp -r "$data" "$copy"
  find "$copy" -iname 'script_*.txt' ! -path "$copy/${show#./}" -delete
  name=$(basename "$show" .txt)
  for m in $modes; do measure "$m" "${name#script_} ($m)" "$copy"; done
done < "$work/shows"
