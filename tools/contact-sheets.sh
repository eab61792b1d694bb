#!/bin/sh
# Renders every show of a data folder headless and lays its frames out as one contact sheet per
# show (ImageMagick's montage), each frame labelled with its tick and second, to look at before a
# show is shipped: stray colour boxes, broken glyphs, overlaps, text cut at the frame's edge.
#   tools/contact-sheets.sh [-s STEP] [-b BUILD_DIR] [DATA_DIR [OUT_DIR]]
# Defaults: every 15th tick, build/, the demo folder examples/, sheets in /tmp/ondrelix-sheets.
# The shows are those the saver finds (`--list`); each sheet is named after its script file and
# the show's number in that file, and its name is printed.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
step=15
build=$here/build
while getopts s:b: opt; do
  case $opt in
    s) step=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-s STEP] [-b BUILD_DIR] [DATA_DIR [OUT_DIR]]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
data=$(cd "${1:-$here/examples}" && pwd)
out=${2:-/tmp/ondrelix-sheets}
bin=$build/ondrelix
[ -x "$bin" ] || { echo "contact-sheets: no $bin (build the ondrelix target first)" >&2; exit 1; }
command -v montage >/dev/null || {
  echo "contact-sheets: no montage (apt-get install imagemagick)" >&2
  exit 1
}
mkdir -p "$out"
work=$(mktemp -d /tmp/ox-sheets-XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
export QT_QPA_PLATFORM=offscreen
# A face with Japanese glyphs for the titles and labels, else ImageMagick's default.
font=
for f in /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf \
  /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf; do
  [ -f "$f" ] && { font=$f; break; }
done

# One line per show: the script's path, the show's number in its file, its title.
"$bin" --list --data "$data" |
  awk -F '\t' '{ n[$4]++; print $4 "\t" n[$4] "\t" $3 }' >"$work/shows"
[ -s "$work/shows" ] || { echo "contact-sheets: no shows below $data" >&2; exit 1; }

while IFS="$(printf '\t')" read -r script n title; do
  frames=$work/frames
  rm -rf "$frames"
  # The render ends by itself with the show.
  "$bin" --render "$script" --script "$n" --out "$frames" --ticks "0-9999999:$step" \
    </dev/null >/dev/null 2>"$work/log" || true
  rel=${script#"$data"/}
  sheet=$out/$(printf '%s' "${rel%.txt}" | tr '/' '-')-$n.png
  if ! ls "$frames"/tick_*.png >/dev/null 2>&1; then
    echo "contact-sheets: $rel show $n rendered nothing: $(cat "$work/log")" >&2
    continue
  fi
  # Frames at half size, eight to a row, each labelled with its tick and second.
  set --
  for f in "$frames"/tick_*.png; do
    t=$(basename "$f" .png | sed 's/^tick_0*//')
    t=${t:-0}
    set -- "$@" -label "$t ($(awk -v t="$t" 'BEGIN { printf "%.1f s", t * 0.033 }'))" "$f"
  done
  montage ${font:+-font "$font"} -title "$title ($rel, show $n)" "$@" -tile 8x \
    -geometry 320x240+3+3 -background '#303030' -fill white -pointsize 12 -depth 8 "$sheet" </dev/null
  echo "$sheet"
done <"$work/shows"
