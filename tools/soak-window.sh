#!/usr/bin/env bash
# Plays the saver in window mode under Xvfb for a stretch of wall time and records its resident
# memory: one line per show started (the resident size then, split into anonymous memory and
# mapped files, and the lowest and highest seen while the show before it played), sampled every
# two seconds, and the allocator's own figures (memory in use, free memory the heaps keep, memory
# taken from the system). This is the real program with its
# media device, pictures and Qt, which the virtual-clock soak tool does not cover. A curve whose
# low points keep climbing from show to show is a leak; one that levels off is a cache filling.
#
# usage: tools/soak-window.sh [--build DIR] [--data DIR] [--minutes N] [--out FILE] [--mode N]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
data="$here/examples"
minutes=120
out=/dev/stdout
mode=4
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--data DIR] [--minutes N] [--out FILE] [--mode N]" >&2; exit 2 ;;
  esac
done
program="$build/ondrelix"
[ -x "$program" ] || { echo "soak-window: no $program (build it first)" >&2; exit 1; }

tool=soak-window
. "$here/tools/lib/xvfb.sh"
start_xvfb 1280x1024

stats="$work/stats"
DISPLAY=$display ONDRELIX_PASS_STATS=$stats "$program" /s --mode "$mode" --data "$data" \
  >"$work/saver.out" 2>&1 &
saver=$!
pids+=("$saver")

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$saver/status" 2>/dev/null || echo 0; }
anon_file_kb() { awk '/^RssAnon:/ { a = $2 } /^RssFile:/ { f = $2 } END { print a + 0, f + 0 }' "/proc/$saver/status" 2>/dev/null; }
shows_now() { awk '$1 == "shows" { print $2 }' "$stats" 2>/dev/null || echo 0; }
# The allocator's figures from the same summary: in use, held free, taken from the system.
heap_kb() {
  awk '/^heap_in_use_kb/ { u = $2 } /^heap_free_kb/ { f = $2 } /^heap_system_kb/ { s = $2 }
       END { print u + 0, f + 0, s + 0 }' "$stats" 2>/dev/null || echo 0 0 0
}

start=$(date +%s)
end=$((start + minutes * 60))
last_shows=0
low=999999999
high=0
echo "# seconds show rss_kb anon_kb file_kb low_kb_since_last high_kb_since_last heap_in_use_kb heap_free_kb heap_system_kb" >"$out"
while [ "$(date +%s)" -lt "$end" ]; do
  if ! kill -0 "$saver" 2>/dev/null; then
    echo "soak-window: the saver ended:" >&2
    cat "$work/saver.out" >&2
    exit 1
  fi
  r=$(rss_kb)
  [ "$r" -lt "$low" ] && low=$r
  [ "$r" -gt "$high" ] && high=$r
  s=$(shows_now)
  # An empty read is the summary being rewritten at that moment: look again next time.
  if [ -n "$s" ] && [ "$s" != "$last_shows" ]; then
    echo "$(($(date +%s) - start)) $s $r $(anon_file_kb) $low $high $(heap_kb)" >>"$out"
    last_shows=$s
    low=$r
    high=$r
  fi
  sleep 2
done
echo "# end $(($(date +%s) - start)) s, rss $(rss_kb) kB" >>"$out"
