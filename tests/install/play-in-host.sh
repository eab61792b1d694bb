#!/usr/bin/env bash
# Plays the installed program in a real desktop screen saver, as a user would have it:
#   play-in-host.sh xscreensaver|mate BUILD_DIR
# The build is installed with --prefix /usr into a scratch root, which a private mount namespace
# lays over /usr (the real /usr is never touched). An ordinary user made for the run, with its
# home in the scratch folder, then starts Xvfb and the host, configures the host as the README
# says, activates it and checks from screenshots of the root window that the show plays, from the
# host's log that the module was started once, and that it ended within a second of
# deactivation. Exit 0: passed; 77: cannot run here (the reason is printed); else failed.
# ONDRELIX_HOST_KEEP=DIR keeps the user's home (screenshots, the host's log) in DIR;
# ONDRELIX_HOST_TRACE=1 traces the session.
set -u

if [ "${1:-}" = "--session" ]; then
  # ---- The user's session: runs as the made user, inside the namespace. ----
  host=$2
  cd "$HOME" || exit 1
  fail() { echo "FAIL: $*"; exit 1; }

  mkfifo fd
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>fd >xvfb.log 2>&1 &
  xvfb=$!
  hostpid=
  trap 'kill $hostpid $xvfb 2>/dev/null; wait' EXIT
  read -r -t 20 n <fd || fail "Xvfb did not start"
  export DISPLAY=:$n

  # The module's processes that have not ended: the installed program run by this user.
  module_pids() {
    for p in $(pgrep -u "$(id -u)" -x ondrelix); do
      [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = /usr/bin/ondrelix ] && echo "$p"
    done
  }
  # R, S, Z, ... of a process; "gone" when there is none. A module whose parent ended is left
  # <defunct> (Z) by a PID 1 that does not reap orphans: that counts as ended too.
  state() { awk '{print $3}' "/proc/$1/stat" 2>/dev/null || echo gone; }
  shot() { import -window root "$1" 2>/dev/null; }
  # Share of the screen's pixels that are not black.
  lit() { convert "$1" -colorspace gray -threshold 3% -format '%[fx:mean]' info: 2>/dev/null; }
  changed() { compare -metric AE -fuzz 5% "$1" "$2" null: 2>&1 >/dev/null; }
  above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 > b + 0) }'; }

  # GStreamer builds a user's plugin registry on first use, which takes from seconds to a minute
  # on a busy machine; a new user's first show would open black that long. Built here, as it is
  # for anyone who has played a sound before.
  tg=$(date +%s%N)
  command -v gst-inspect-1.0 >/dev/null && gst-inspect-1.0 >/dev/null 2>&1
  tg=$(( ($(date +%s%N) - tg) / 1000000 ))

  case $host in
    xscreensaver)
      # As the README says: the command adds Ondrelix to the programs list and names its place;
      # "mode: one" with that "selected:" is what choosing it in xscreensaver-settings writes.
      # No fading, splash or lock, so that the test sees the module at once.
      ondrelix --add-to-xscreensaver >add.txt || fail "--add-to-xscreensaver: $(cat add.txt)"
      selected=$(sed -n 's/.*"selected: \([0-9]*\)".*/\1/p' add.txt)
      [ -n "$selected" ] || fail "--add-to-xscreensaver named no place: $(cat add.txt)"
      printf 'mode:\tone\nselected:\t%s\nfade:\tFalse\nunfade:\tFalse\nsplash:\tFalse\nlock:\tFalse\n' \
        "$selected" >>.xscreensaver
      xscreensaver --no-splash --log "$HOME/host.log" >/dev/null 2>&1 &
      hostpid=$!
      for _ in $(seq 100); do xscreensaver-command --time >/dev/null 2>&1 && break; sleep 0.2; done
      activate() { xscreensaver-command --activate >/dev/null 2>&1; }
      deactivate() { xscreensaver-command --deactivate >/dev/null 2>&1; }
      starts() { grep -c 'forked ".*ondrelix --root' host.log; }
      ;;
    mate)
      # As the README says: the theme chosen with gsettings, what mate-screensaver-preferences
      # writes when Ondrelix is picked. No lock, so that deactivation needs no password.
      gsettings set org.mate.screensaver mode single &&
        gsettings set org.mate.screensaver themes "['screensavers-ondrelix']" &&
        gsettings set org.mate.screensaver lock-enabled false || fail "gsettings cannot set the theme"
      mate-screensaver --no-daemon --debug >host.log 2>&1 &
      hostpid=$!
      for _ in $(seq 100); do mate-screensaver-command --query >/dev/null 2>&1 && break; sleep 0.2; done
      activate() { mate-screensaver-command --activate >/dev/null 2>&1; }
      deactivate() { mate-screensaver-command --deactivate >/dev/null 2>&1; }
      starts() { grep -c 'starting job' host.log; }
      ;;
  esac

  now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
  ta=$(now_ms)
  # On a busy machine a host's command may give up waiting for the daemon's answer (or come
  # before the daemon listens) although the daemon is there: it is sent again, as a user would.
  # A daemon that took the first one ignores the next, so the module is still started once.
  tries=0
  until activate; do
    tries=$((tries + 1))
    [ $tries -lt 10 ] || fail "the host does not take the activation, tried 10 times (see host.log)"
    sleep 1
  done
  pid=
  for _ in $(seq 200); do
    pid=$(module_pids | head -1)
    [ -n "$pid" ] && break
    sleep 0.1
  done
  tm=$(now_ms)
  [ -n "$pid" ] || fail "the host started no ondrelix within 20 s: $(grep -i 'ondrelix\|theme\|command' host.log | tail -5)"

  # The show is on the screen: the root window is lit, and it changes while the show plays.
  # The show opens dark and takes a while to start on a busy machine: up to a minute and a half.
  while [ $(($(now_ms) - ta)) -lt 90000 ]; do
    shot a.png && [ -n "${ONDRELIX_HOST_KEEP:-}" ] && cp a.png "shot-$(($(now_ms) - ta)).png"
    above "$(lit a.png)" 0.001 && break
    sleep 0.5
  done
  above "$(lit a.png)" 0.001 || fail "the screen stayed black ($(lit a.png) lit)"
  tl=$(now_ms)
  # A show may hold a picture still for a moment, and a busy machine plays slowly: the picture
  # must change within 15 s.
  while :; do
    sleep 0.5
    shot b.png || fail "no second screenshot"
    above "$(changed a.png b.png)" 200 && break
    [ $(($(now_ms) - tl)) -lt 15000 ] || fail "the picture did not change in 15 s ($(changed a.png b.png) pixels)"
  done
  case $(state "$pid") in Z | gone) fail "the module ended while the show played" ;; esac
  [ "$(starts)" = 1 ] || fail "the host started the module $(starts) times"
  [ "$(module_pids | wc -l)" = 1 ] || fail "more than one module runs: $(module_pids | tr '\n' ' ')"

  # Deactivated is when the host's command has been taken (it returns then); how long the
  # command itself took on this machine is reported beside.
  tc=$(date +%s%N)
  deactivate || fail "the host does not take the deactivation"
  t0=$(date +%s%N)
  told=$(( (t0 - tc) / 1000000 ))
  while :; do
    case $(state "$pid") in Z | gone) break ;; esac
    [ $(( ($(date +%s%N) - t0) / 1000000 )) -gt 3000 ] && break
    sleep 0.01
  done
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  case $(state "$pid") in Z | gone) ;; *) fail "the module still runs ${ms} ms after deactivation" ;; esac
  [ "$ms" -le 1000 ] || fail "the module ended ${ms} ms after deactivation (more than a second)"
  echo "PASS: $host started the module $((tm - ta)) ms after activation, once; the show was on" \
    "the screen after $((tl - ta)) ms (lit $(lit a.png), $(changed a.png b.png) pixels changed" \
    "in 1.5 s; the user's media registry took ${tg} ms before); the module ended ${ms} ms after deactivation (the host's command took ${told} ms)"
  exit 0
fi

# ---- The set-up: runs as root. ----
host=${1:?host}
build=${2:?build folder}
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to make a user and a private mount namespace"
need="flock Xvfb import convert compare pgrep useradd userdel setpriv unshare dbus-run-session"
case $host in
  xscreensaver) need="$need xscreensaver xscreensaver-command" ;;
  mate) need="$need mate-screensaver mate-screensaver-command gsettings" ;;
  *) echo "unknown host $host"; exit 2 ;;
esac
for t in $need; do command -v "$t" >/dev/null || skip "$t is not installed (tools/setup-deps)"; done

T=$(mktemp -d /tmp/ondrelix-host-XXXXXX)
chmod 755 "$T"
user=oxhost$$
cleanup() {
  [ -n "${ONDRELIX_HOST_KEEP:-}" ] && cp -r "$T/home/." "$ONDRELIX_HOST_KEEP/" 2>/dev/null
  # What the session left of the user's processes (all started by this run), one by one.
  for p in /proc/[0-9]*; do
    [ "$(stat -c %U "$p" 2>/dev/null)" = "$user" ] && kill -KILL "${p#/proc/}" 2>/dev/null
  done
  for _ in $(seq 20); do userdel "$user" 2>/dev/null && break; sleep 0.2; done
  rm -rf "$T"
}
trap cleanup EXIT
flock "$build/.install-lock" env DESTDIR="$T/root" cmake --install "$build" --prefix /usr >"$T/install.log" 2>&1 ||
  { cat "$T/install.log"; echo "FAIL: cmake --install"; exit 1; }
unshare -m true 2>/dev/null || skip "no private mount namespace here (unshare -m)"
# Another test may hold the password files' lock for a moment.
for _ in $(seq 50); do useradd -M -d "$T/home" -s /bin/sh -U "$user" 2>/dev/null && break; sleep 0.2; done
id "$user" >/dev/null 2>&1 || { echo "FAIL: cannot make the user $user"; exit 1; }
mkdir -m 700 "$T/home" "$T/home/run"
chown -R "$user:" "$T/home"
cp "$0" "$T/play-in-host.sh"
chmod 755 "$T/play-in-host.sh"

unshare -m --propagation private bash -c '
  mount -t overlay overlay -o "lowerdir=$1/root/usr:/usr" /usr || { echo "SKIP: no overlay mount"; exit 77; }
  exec setpriv --reuid="$2" --regid="$2" --init-groups env -i HOME="$1/home" USER="$2" LOGNAME="$2" \
    PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$1/home/run" XDG_CURRENT_DESKTOP=MATE NO_AT_BRIDGE=1 ONDRELIX_HOST_KEEP="${ONDRELIX_HOST_KEEP:-}" \
    timeout 200 dbus-run-session -- bash ${ONDRELIX_HOST_TRACE:+-x} "$1/play-in-host.sh" --session "$3"
' bash "$T" "$user" "$host"
rc=$?
if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
  echo "---- the host's log (end)"
  tail -25 "$T/home/host.log" 2>/dev/null
fi
exit $rc
