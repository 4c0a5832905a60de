# Shared by the Wine end-to-end tests: a private display and prefix, and
# helpers to run a self-extractor, answer its boxes and read their texts.
# Source it; it sets DISPLAY, WINEPREFIX and friends.

SFX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SFX_WINE_DIR=${SFX_WINE_DIR:-$SFX_ROOT/build/wine}
export DISPLAY=${SFX_DISPLAY:-:87}
export WINEPREFIX=$SFX_WINE_DIR/prefix64
export WINEARCH=win64
# No menu entries in the home folder, no Mono or Gecko installers.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
# 32-bit Wine runs here under qemu-user, which by default gives a 32-bit
# program the whole 4 GiB. Wine's loader then reserves everything above 2 GiB
# in 64 KiB steps, each a slow emulated mmap: 50 seconds before the program
# starts. 16 MiB above 2 GiB is all it needs; a run then takes 4 seconds.
export QEMU_RESERVED_VA=0x81000000

wine_start_display() {
  if ! xdpyinfo >/dev/null 2>&1; then
    mkdir -p "$SFX_WINE_DIR"
    setsid Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 < /dev/null &
    echo $! > "$SFX_WINE_DIR/xvfb.pid"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb did not start on $DISPLAY" >&2
    return 1
  fi
}

# Creates the 64-bit prefix once; later runs reuse it.
wine_make_prefix() {
  mkdir -p "$SFX_WINE_DIR"
  if [ ! -f "$WINEPREFIX/.sfx-ready" ]; then
    rm -rf "$WINEPREFIX"
    WINEDEBUG=-all "$WINE64" wineboot -i >/dev/null 2>&1 < /dev/null
    # Without a window manager Wine draws captions and closes windows promptly only unmanaged.
    WINEDEBUG=-all "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$WINE64"server -w 2>/dev/null || wineserver -w
    touch "$WINEPREFIX/.sfx-ready"
  fi
  # Window captions draw their close box with Marlett, which this Wine finds
  # only in the prefix's font folder.
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$fonts/" 2>/dev/null || true
}

wine_stop() {
  WINEDEBUG=-all wineserver -k 2>/dev/null || true
  if [ -f "$SFX_WINE_DIR/xvfb.pid" ]; then
    kill "$(cat "$SFX_WINE_DIR/xvfb.pid")" 2>/dev/null || true
    rm -f "$SFX_WINE_DIR/xvfb.pid"
  fi
}

# wine_run LOG EXE ARGS...: runs a self-extractor with message boxes and
# Wine's own errors traced into LOG; returns its exit status.
# SFX_WINE_LOADER picks 32-bit Wine.
wine_run() {
  local log=$1 exe=$2
  shift 2
  WINEDEBUG=-all,err+all,+msgbox timeout "${SFX_WINE_TIMEOUT:-90}" "${SFX_WINE_LOADER:-$WINE64}" "$exe" "$@" \
    >"$log" 2>&1 < /dev/null
}

# What a failed case needs to be understood: the Wine and Windows processes
# still running, whether the display answers, and its windows with their titles.
wine_report() {
  echo "processes:"
  ps -eo pid,etimes,stat,args | grep -E '[w]ine|[.]exe|[X]vfb' | cut -c1-160
  xdpyinfo >/dev/null 2>&1 || echo "the display $DISPLAY does not answer"
  echo "windows:"
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    echo "  $id $(xdotool getwindowname "$id" 2>/dev/null)"
  done
}

# The texts of the message boxes a run showed, one per line.
wine_box_texts() {
  sed -n 's/.*MSGBOX_OnInit L"\(.*\)"$/\1/p' "$1" | sed 's/\\"/"/g; s/\\\\/\\/g'
}

# wine_wait_window TITLE [SECONDS]: the id of the newest window with TITLE.
wine_wait_window() {
  local title=$1 limit=${2:-60} id
  for _ in $(seq $((limit * 5))); do
    id=$(xdotool search --name "^$title\$" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# wine_wait_box LOG COUNT: waits until COUNT boxes have been traced.
wine_wait_box() {
  local log=$1 count=$2
  for _ in $(seq 300); do
    [ "$(grep -c MSGBOX_OnInit "$log" 2>/dev/null)" -ge "$count" ] && { sleep 0.5; return 0; }
    sleep 0.2
  done
  return 1
}

# wine_answer TITLE WINDOWS KEYS...: waits until WINDOWS top-level windows
# carry TITLE (the dialog and its box: 2; a box before the dialog: 1) and
# sends the keys to the newest, which is the box.
wine_answer() {
  local title=$1 want=$2 ids
  shift 2
  for _ in $(seq 300); do
    ids=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | sort -n)
    if [ "$(echo "$ids" | grep -c .)" -ge "$want" ]; then
      sleep 1  # a box that has just been mapped may not take keys yet
      # Real key events to the focused box: keys sent to a window with
      # XSendEvent are not reliably told apart by Wine. A key that lands
      # while the box is still taking focus is lost: then the keys go again.
      local box
      box=$(echo "$ids" | tail -1)
      for _ in 1 2 3; do
        xdotool windowfocus --sync "$box" key "$@" 2>/dev/null || true
        for _ in $(seq 25); do
          xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | grep -qx "$box" || return 0
          sleep 0.2
        done
      done
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# wine_key TITLE KEYS...: sends keys to the newest window with TITLE.
wine_key() {
  local title=$1 id
  shift
  id=$(wine_wait_window "$title") || return 1
  xdotool windowfocus --sync "$id" key "$@" 2>/dev/null || true
}

# Windows path of a Linux path, through the prefix's Z: drive.
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
