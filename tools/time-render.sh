#!/bin/sh
# Times headless rendering of a 60-second reference show and reports how many times faster than
# real time it plays: once playing every tick without writing pictures (--dump-events), once
# writing one picture a second, once a picture every tick, and once exporting it as a WebM video
# with its music (--export), where the processor time is given too (on a busy machine the wall
# time says little).
#   tools/time-render.sh [BUILD_DIR]    (default: build)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
bin=$build/ondrelix
[ -x "$bin" ] || { echo "time-render: no $bin (build the ondrelix target first)" >&2; exit 1; }

work=$(mktemp -d /tmp/ox-time-render-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
show=$work/script_timing.txt
cp "$here/examples/gallery/drift.wav" "$work/"

# The show: a tiled background (the built-in placeholder picture) with 64 placed pictures
# drifting diagonally, 32 pictures turning, growing and fading, a receding scrolling text, a title
# and captions, all running for the whole 60 seconds.
{
  echo '<DATA TITLE="timing" VERSION="1.1">'
  echo '<BGM FILE="drift.wav" MODE="START">'
  echo '<BGMAKE BGFILE="missing-tile.bmp">'
  i=0
  while [ $i -lt 64 ]; do
    echo "<OBJECT FILE=\"missing-$i.bmp\" XPOS=\"$(( (i % 8) * 120 ))\" YPOS=\"$(( (i / 8) * 90 ))\" TRANS=\"LEFTTOP\">"
    i=$((i + 1))
  done
  echo '</BGMAKE>'
  echo '<BGMOVE XMOVE="66" YMOVE="33" TIME="60">'
  i=0
  while [ $i -lt 32 ]; do
    x=$(( (i % 8) * 80 - 280 )); y=$(( (i / 8) * 60 - 100 )); z=$(( (i % 5) * 40 - 60 ))
    echo "<IMAGE FILE=\"*NOTFOUND\" XPOS=\"$x\" YPOS=\"$y\" ZPOS=\"$z\" SIZE=\"60\" TIME=\"60\" CONTRAST=\"FADEINOUT\">"
    echo "<MOVE ROTATE=\"$(( 30 + i * 3 ))\" TIME=\"60\">"
    echo "<SET START=\"10\" SIZE=\"140\" TIME=\"20\" ACC=\"20\" DEC=\"20\">"
    echo '</IMAGE>'
    i=$((i + 1))
  done
  echo '<TITLE FILE="missing-title.bmp" POS="0" SPEED="4" TIME="60">'
  # The outline face named in CP932 bytes: "ＭＳ ゴシック".
  printf '<SCRTEXT SPEED="30" TIME="60"><FORMAT FONT="\202\154\202\162 \203\123\203\126\203\142\203\116" SIZE="20" ALIGN="CENTER">\n'
  i=0
  while [ $i -lt 120 ]; do
    echo "Line $i of the receding scrolling text<BR>"
    i=$((i + 1))
  done
  echo '</FORMAT></SCRTEXT>'
  echo '<CAPTION TIME="60">First caption<P>Second caption<BR>with two lines<P>Third caption</CAPTION>'
  echo '</DATA>'
} > "$show"

seconds() { date +%s.%N; }
factor() { awk -v a="$1" -v b="$2" 'BEGIN { t = b - a; printf "%.2f s, %.1f x real time", t, 60 / t }'; }

t0=$(seconds)
"$bin" --render "$show" --dump-events > "$work/events.txt"
t1=$(seconds)
echo "every tick, no pictures:    $(factor "$t0" "$t1") ($(wc -l < "$work/events.txt") events)"

t0=$(seconds)
"$bin" --render "$show" --out "$work/out" --ticks 0-1818:30 2> /dev/null
t1=$(seconds)
echo "one picture a second:       $(factor "$t0" "$t1") ($(ls "$work/out" | wc -l) pictures)"

rm -rf "$work/out"
t0=$(seconds)
"$bin" --render "$show" --out "$work/out" --ticks 0-1818 2> /dev/null
t1=$(seconds)
echo "a picture every tick:       $(factor "$t0" "$t1") ($(ls "$work/out" | wc -l) pictures, $(du -sm "$work/out" | cut -f1) MB)"

# The processor time comes from /usr/bin/time (Debian's package "time") when it is there.
timer=""
[ -x /usr/bin/time ] && timer="/usr/bin/time -o $work/cpu -f %U_%S"
t0=$(seconds)
$timer "$bin" --export "$work/out.webm" "$show" > /dev/null 2>&1
t1=$(seconds)
cpu=""
[ -f "$work/cpu" ] && cpu=$(tr '_' ' ' < "$work/cpu" | awk '{ t = $1 + $2; printf "; processor %.2f s, %.1f x real time", t, 60 / t }')
echo "export to WebM, 640 x 480: $(factor "$t0" "$t1")$cpu"
