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
#
# usage: tools/measure-cpu.sh [--build DIR] [--data DIR] [--seconds N] [--screen WxH] [--per-show]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=""
data=""
seconds=20
screen=1280x1024
warmup=4
per_show=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --per-show) per_show=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--data DIR] [--seconds N] [--screen WxH] [--per-show]" >&2; exit 2 ;;
  esac
done

if [ -z "$build" ]; then
  for d in "$here/build" "$here"/build-*; do
    if [ -x "$d/ondrelix" ]; then build=$d; break; fi
  done
fi
program="$build/ondrelix"
[ -x "$program" ] || { echo "measure-cpu: no ondrelix program (build it, or give --build DIR)" >&2; exit 1; }

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

# With the opening logo off, so the whole stretch plays shows.
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n"FlgLogo"=dword:00000000\n' \
  > "$XDG_CONFIG_HOME/Velnori/Pralvex.reg"

ticks=$(getconf CLK_TCK)
cpu_of() {  # user + system clock ticks of a process
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

measure() {  # mode label [data folder]
  local mode=$1 label=$2 folder=${3:-$data} stats="$work/stats-$1" try saver
  rm -f "$stats"
  # A display that another server is just leaving can refuse us: then start over.
  for try in 1 2 3; do
    start_xvfb "$screen"
    DISPLAY=$display ONDRELIX_PASS_STATS=$stats "$program" /s --mode "$mode" --data "$folder" \
      >"$work/out-$mode" 2>&1 &
    saver=$!
    pids+=("$saver")
    sleep "$warmup"
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
  s0=$(cpu_of "$saver"); x0=$(cpu_of "$xvfb"); t0=$(date +%s.%N)
  local p0
  p0=$(awk '/^passes/ {print $2}' "$stats" 2>/dev/null || echo 0)
  sleep "$seconds"
  s1=$(cpu_of "$saver"); x1=$(cpu_of "$xvfb"); t1=$(date +%s.%N)
  sleep 1.1  # one more summary of the pass record
  kill "$saver" 2>/dev/null || true
  wait "$saver" 2>/dev/null || true
  stop_xvfb
  awk -v s0="$s0" -v s1="$s1" -v x0="$x0" -v x1="$x1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
      -v label="$label" -v p0="${p0:-0}" -v statsfile="$stats" '
    BEGIN {
      wall = t1 - t0
      saver = (s1 - s0) / hz; xs = (x1 - x0) / hz
      while ((getline line < statsfile) > 0) { split(line, f, " "); st[f[1]] = f[2] }
      printf "%-24s wall %5.1f s  saver %5.2f s  Xvfb %5.2f s  total %5.2f %% of one core", label, wall, saver, xs, 100 * (saver + xs) / wall
      printf "  (passes %d, frames late by more than a tick %d, worst %d ms; longest pass %d ms)\n", st["passes"] - p0, st["late_over_one_tick"], st["worst_late_ms"], st["longest_pass_ms"]
    }'
}

echo "measure-cpu: $program, data $data, screen $screen, ${seconds} s each"
if [ "$per_show" = 0 ]; then
  measure 4 "window mode (4)"
  measure 2 "stretched mode (2)"
  exit 0
fi
(cd "$data" && find . -iname 'script_*.txt' | sort) > "$work/shows"
while read -r show; do
  copy="$work/one-show"
  rm -rf "$copy"
  cp -r "$data" "$copy"
  find "$copy" -iname 'script_*.txt' ! -path "$copy/${show#./}" -delete
  name=$(basename "$show" .txt)
  measure 4 "${name#script_} (4)" "$copy"
  measure 2 "${name#script_} (2)" "$copy"
done < "$work/shows"
