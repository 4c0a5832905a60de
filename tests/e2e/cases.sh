#!/usr/bin/env bash
# End-to-end cases: real self-extractors built by mksfx, run under Wine.
# Usage: [SFX_E2E_STUB=32] cases.sh CASE. The x86_64 stub runs under 64-bit
# Wine in seconds; SFX_E2E_STUB=32 runs the product, the i686 stub, under
# 32-bit Wine (emulated here, about a minute a run).
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
MKSFX=${SFX_E2E_MKSFX:-$SFX_ROOT/dist/mksfx}  # scripts/mutants hands in its own builds
BITS=${SFX_E2E_STUB:-64}
STUB=${SFX_E2E_STUB_PATH:-$SFX_ROOT/dist/sfxstub$BITS.exe}
CASE=$1
NAME=$CASE
if [ "$BITS" = 32 ]; then
  NAME=${CASE}_32
  export SFX_WINE_LOADER=$WINE32 SFX_WINE_TIMEOUT=${SFX_WINE_TIMEOUT:-400}
fi
WORK=$SFX_WINE_DIR/cases/$NAME
DEST=$WINEPREFIX/drive_c/e2e/$NAME       # long names on C:, unlike Z:
DEST_WIN="C:\\e2e\\$NAME"
TITLE="E2E $NAME"
LOG=$WORK/wine.log

fail() {
  echo "FAIL [$CASE]: $*" >&2
  [ -f "$LOG" ] && sed 's/^/  wine: /' "$LOG" | tail -20 >&2
  wine_report | sed 's/^/  /' >&2
  exit 1
}
expect_status() { [ "$1" = "$2" ] || fail "exit status $1, expected $2"; }
# expect_boxes TEXT... : exactly these box texts, in order
expect_boxes() { local got; got=$(wine_box_texts "$LOG"); [ "$got" = "$(printf '%s\n' "$@")" ] || fail "boxes were [$got], expected [$*]"; }

rm -rf "$WORK" "$DEST"
mkdir -p "$WORK/in/docs/deep" "$WORK/in/empty dir"
cd "$WORK"
printf 'hello\r\n' > "in/readme with a long name.txt"
head -c 300000 /dev/urandom > in/random.bin
seq 1 50000 > in/docs/numbers.txt
cp "$SFX_ROOT/src/lzh/decoder.cpp" in/docs/deep/
touch -d '2001-02-03 04:05:07' in/docs/numbers.txt
wine_start_display || fail "no display"

# Starts a run in the background; the log is emptied first, so no wait can
# see an earlier run's boxes.
run_bg() { : > "$LOG"; wine_run "$LOG" "$@" & pid=$!; }
trap 'kill $(jobs -p) 2>/dev/null' EXIT

# build [OPTIONS]: sfx.exe, the self-extractor of in/'s contents.
build() { "$MKSFX" --stub "$STUB" --title "$TITLE" -o "$WORK/sfx.exe" "$@" -C in . || fail "mksfx failed"; }
# extracted [EXE [DIR]]: runs EXE (sfx.exe) with -n DIR (the destination) and
# expects the extract pass to have run.
extracted() { wine_run "$LOG" "${1:-sfx.exe}" -n "${2:-$DEST_WIN}"; expect_status $? 1; }
same_tree() { diff -r "$WORK/in" "$DEST" >/dev/null || fail "extracted tree differs"; }
file_times() { (cd "$1" && find . -type f -exec stat -c '%n %Y' {} + | sort); }

case $CASE in
setup) wine_make_prefix || fail "prefix" ;;
auto_start)
  # The stub moved by its own relocation table to a base of its own choosing,
  # as Win32s moves every program (one location left out points into
  # nothing), then signed, then started with -n: the tree comes out with its
  # times and no box, and mksfx --extract gives the same.
  base=0x10000000; [ "$BITS" = 64 ] && base=0x180000000
  "${SFX_BUILDTOOL:?}" rebase "$STUB" moved.exe "$base" || fail "rebase failed"
  STUB=$WORK/moved.exe build --method lh7
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=sfx test" 2>/dev/null
  osslsigncode sign -certs cert.pem -key key.pem -in sfx.exe -out signed.exe >/dev/null || fail "signing failed"
  osslsigncode verify -CAfile cert.pem signed.exe >/dev/null 2>&1 || fail "signature does not verify"
  extracted signed.exe
  same_tree
  expect_boxes
  [ "$(file_times "$DEST")" = "$(file_times in)" ] || fail "times: $(diff <(file_times in) <(file_times "$DEST") | head -3)"
  "$MKSFX" --extract signed.exe -C native >/dev/null || fail "mksfx --extract failed"
  diff -r "$DEST" native >/dev/null || fail "mksfx --extract gave another tree"
  [ "$(file_times native)" = "$(file_times in)" ] || fail "mksfx --extract: other times"
  ;;
chooser)
  # Reference opens the directory chooser in the working directory, whose one
  # subdirectory is entered with a double click (the second row; the first is
  # [..]) and accepted: the box then names it, and OK extracts there.
  build
  mkdir -p start/picked
  cd start
  run_bg ../sfx.exe
  wine_wait_window "$TITLE" >/dev/null || fail "no dialog"
  # Alt+R again while no chooser comes: a key that lands while the dialog is
  # still taking focus is lost (seen once under 32-bit Wine).
  for _ in 1 2 3; do
    wine_key "$TITLE" alt+r
    chooser=$(wine_wait_window "Extracting directory" 10) && break
  done
  [ -n "$chooser" ] || fail "no chooser"
  sleep 1
  xdotool mousemove --window "$chooser" 68 116 click --repeat 2 --delay 80 1
  sleep 1
  wine_key "Extracting directory" alt+o
  sleep 1
  wine_key "$TITLE" Return
  wait $pid; expect_status $? 1
  cd "$WORK"
  diff -r in start/picked >/dev/null || fail "not extracted into the chosen directory: $(ls start start/picked)"
  ;;
cancel_during)
  truncate -s 600000000 in/big.bin   # sparse: nothing to write to disk
  printf '$Flag=8192\r\n' > script.txt   # keep_controls: Cancel stays usable
  build --method lh7 --script script.txt
  run_bg sfx.exe -n "$DEST_WIN"
  for _ in $(seq 300); do [ -e "$DEST/big.bin" ] && break; sleep 0.1; done
  [ -e "$DEST/big.bin" ] || fail "extraction never started"
  # Escape until the run ends: a key that lands while a window is still
  # taking focus is lost (seen once in 183 runs under 32-bit Wine).
  for _ in 1 2 3; do
    wine_key "$TITLE" Escape
    for _ in $(seq 25); do kill -0 "$pid" 2>/dev/null || break 2; sleep 0.2; done
  done
  wait $pid; expect_status $? 1
  [ ! -e "$DEST/big.bin" ] || fail "partial file left behind"
  rm -f in/big.bin sfx.exe
  ;;
overwrite)
  # One question per run, so each answer belongs to one known box.
  build --keep-newer-off
  ask() {  # ask KEY: one existing file, one question answered with KEY
    rm -rf "$DEST" && mkdir -p "$DEST/docs" && echo old > "$DEST/docs/numbers.txt"
    run_bg sfx.exe -n "$DEST_WIN"
    wine_wait_box "$LOG" 1 || fail "no box"
    wine_answer "$TITLE" 2 "$1"   # once the dialog and the box are up
    wait $pid; expect_status $? 1
    expect_boxes "\"C:/e2e/$NAME/docs/numbers.txt\" Overwrite?"
  }
  ask y
  cmp -s "$DEST/docs/numbers.txt" in/docs/numbers.txt || fail "Yes did not replace"
  same_tree
  ask n
  [ "$(cat "$DEST/docs/numbers.txt")" = old ] || fail "No replaced the file"
  [ -e "$DEST/random.bin" ] || fail "No stopped the extraction"
  ask Escape
  [ "$(cat "$DEST/docs/numbers.txt")" = old ] || fail "Cancel replaced the file"
  [ ! -e "$DEST/random.bin" ] || fail "extraction went on after Cancel"
  ;;
mksfx_windows)
  # The Windows build of mksfx under Wine writes the same bytes as the Linux
  # one, and lists, tests and extracts as it does, refusals included.
  win() { WINEDEBUG=-all "$WINE64" "$SFX_ROOT/dist/mksfx.exe" "$@" 2>>"$LOG"; }
  tree_sums() { (cd "$1" && find . -type f -exec cksum {} + | sed -E 's#\.+(/| )#\1#g' | sort); }
  win --archive-only --time 1000000000 --method lh7 -o "$(winpath "$WORK/windows.lzh")" \
    -C "$(winpath "$WORK")" in >/dev/null || fail "mksfx.exe failed"
  "$MKSFX" --archive-only --time 1000000000 --method lh7 -o "$WORK/linux.lzh" in || fail "mksfx failed"
  cmp -s windows.lzh linux.lzh || fail "the two builds wrote different archives"
  cp -r in again && ln -s . again/self && for _ in 1 2; do win --archive-only -o "$(winpath "$WORK/again/own.lzh")" -C "$(winpath "$WORK")" again; done >/dev/null
  ! "$MKSFX" --list again/own.lzh | grep -q 'own.lzh\|self' || fail "mksfx.exe packed its own output or a loop"
  build --method lh6
  cp sfx.exe hostile.exe
  python3 "$SFX_ROOT/tests/e2e/hostile.py" drive hostile.exe
  rm -f "$WINEPREFIX/drive_c/rooted.txt"
  for file in linux.lzh sfx.exe; do
    for verb in "--list -v" --test; do
      a=$(win $verb "$file" | tr -d '\r'; echo "status $?")
      b=$("$MKSFX" $verb "$file" 2>/dev/null; echo "status $?")
      [ "$a" = "$b" ] || fail "$verb $file: $(diff <(echo "$a") <(echo "$b") | head -4)"
    done
  done
  for file in sfx.exe hostile.exe; do
    win --extract "$file" -C "$(winpath "$WORK/w-$file")" >/dev/null
    a=$?
    "$MKSFX" --extract "$file" -C "l-$file" >/dev/null 2>&1
    [ "$a" = $? ] || fail "--extract $file: status $a on Windows, $? on Linux"
    # Windows drops a name's trailing dots ("_." of a cleaned "..").
    [ "$(tree_sums "w-$file")" = "$(tree_sums "l-$file")" ] ||
      fail "--extract $file: $(diff <(tree_sums "w-$file") <(tree_sums "l-$file") | head -4)"
  done
  diff -r in w-sfx.exe >/dev/null || fail "--extract gave another tree"
  # Names in any language, through the x86_64 and the i686 build: the same
  # bytes as Linux packs, and the tree back into a folder named in UTF-8.
  mkdir -p names/1252/Ünï names/932/日本 && echo 1 > names/1252/Ünï/résumé.txt && echo 2 > names/932/日本/表.txt
  for exe in mksfx.exe mksfx32.exe; do
    loader=$WINE64 && [ $exe = mksfx32.exe ] && loader=$WINE32
    for cp in 1252 932; do
      WINEDEBUG=-all $loader "$SFX_ROOT/dist/$exe" -q --archive-only --codepage $cp --time 1 -o "$(winpath "$WORK/$exe-$cp.lzh")" \
        -C "$(winpath "$WORK/names/$cp")" . 2>>"$LOG" || fail "$exe failed"
      "$MKSFX" -q --archive-only --codepage $cp --time 1 -o "names-$cp.lzh" -C names/$cp . || fail "mksfx failed"
      cmp -s "$exe-$cp.lzh" "names-$cp.lzh" || fail "$exe packed names in code page $cp otherwise"
      rm -rf "$DEST"
      WINEDEBUG=-all $loader "$SFX_ROOT/dist/$exe" -q --codepage $cp --extract "$(winpath "$WORK/names-$cp.lzh")" \
        -C "$DEST_WIN\\wé" 2>>"$LOG" || fail "$exe --extract failed"
      diff -r names/$cp "$DEST/wé" >/dev/null || fail "$exe --extract gave other names in code page $cp"
    done
  done
  outside=$(find "$WORK" -name 'escape*' -not -path "$WORK/[wl]-hostile.exe/*")
  [ -z "$outside" ] || fail "--extract wrote outside: $outside"
  [ ! -e "$WINEPREFIX/drive_c/rooted.txt" ] || fail "--extract wrote a member that names a drive"
  ;;
versions)
  # One script (title, a directory under %ProgramFiles%, auto start, a class, two items for our own
  # "Progman" window, which writes what it gets, a command) under each version Wine reports to one
  # exe name. Win32s (win31): the class in WIN.INI (Extensions below), times shifted by TZ (EST5: 5
  # hours back), the Windows drive for %ProgramFiles%; the others: HKCR, times as stored.
  x86_64-w64-mingw32-g++ -O2 -static -o progman_server.exe "$SFX_ROOT/tests/e2e/progman_server.cpp" || fail "server"
  for f in viewer.exe viewer.ico; do cp "$SFX_ROOT/README.md" in/$f; done
  versions="win31 win95 nt40 winxp win10" ext='HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion\Extensions'
  for v in $versions; do
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\sfx_%s.exe]\n"Version"="%s"\n[-HKEY_CLASSES_ROOT\\.v%s]\n[-HKEY_CLASSES_ROOT\\VFile%s]\n[%s]\n"v%s"=-\n' $v $v $v $v "$ext" $v
    printf '$WindowTitle=Scripted %s\r\n$InstallTitle=Where to:\n$InstallDir=%%ProgramFiles%%\\sfxv\\%s\n$Flag=1\n$Command=cmd.exe /c echo ran> marker.txt\n$ClassTitle=Register\r\n$Class=.v%s,V document,viewer.exe,VFile%s\r\n$GroupTitle=Start Menu\r\n$Group=V %s,Viewer,viewer.exe\r\n$Group=V %s,Viewer,viewer.exe,viewer.ico\r\n' $v $v $v $v $v $v > $v.txt
    printf '[CreateGroup("V %s",0)]\n[AddItem(D\\viewer.exe,Viewer)]\n---\n[CreateGroup("V %s",0)]\n[AddItem(D\\viewer.exe,Viewer,D\\viewer.ico)]\n---\n' $v $v >> want.txt
    rm -rf "$WINEPREFIX"/drive_c/*/sfxv/$v "$WINEPREFIX"/drive_c/sfxv/$v
  done | sed '1i REGEDIT4' > versions.reg
  WINEDEBUG=-all "$WINE64" reg import "$(winpath "$WORK/versions.reg")" >/dev/null 2>&1 || fail "reg import"
  WINEDEBUG=-all "$WINE64" progman_server.exe "$(winpath "$WORK/commands.txt")" >/dev/null 2>&1 & server=$!
  for _ in $(seq 100); do [ -e commands.txt ] && break; sleep 0.1; done
  for v in $versions; do
    "$MKSFX" -q --stub "$STUB" --title "$TITLE" --script $v.txt -o sfx_$v.exe -C in . || fail "mksfx failed"
    TZ=EST5 run_bg sfx_$v.exe
    wine_wait_window "Scripted $v" 30 >/dev/null || fail "$v: the script's title was not shown"
    wait $pid; expect_status $? 1
    shift=0 DEST=$(echo "$WINEPREFIX"/drive_c/Program\ Files*/sfxv/$v)
    [ $v = win31 ] && shift=18000 DEST=$WINEPREFIX/drive_c/sfxv/$v
    for _ in $(seq 100); do grep -q ran "$DEST/marker.txt" 2>/dev/null && break; sleep 0.2; done  # after the stub
    grep -q ran "$DEST/marker.txt" && rm "$DEST/marker.txt" || fail "$v: run command did not write its marker"
    same_tree
    [ "$(file_times "$DEST")" = "$(file_times in | awk -v s=$shift '{ $NF -= s } 1')" ] || fail "$v: times"
  done
  kill $server 2>/dev/null
  got=$(sed -E 's#C:\\[^,]*sfxv\\[a-z0-9]+#D#g' commands.txt)  # D: Wine's short form of the destination
  [ "$got" = "$(cat want.txt)" ] || fail "commands were [$(cat commands.txt)]"
  printf '@reg query "%s"\r\n@for %%%%v in (%s) do @reg query HKCR\\.v%%%%v /ve\r\n' "$ext" "$versions" > query.bat
  printf '@for %%%%v in (%s) do @reg query HKCR\\VFile%%%%v\\shell\\open\\command /ve\r\n' "$versions" >> query.bat
  regs=$(WINEDEBUG=-all "$WINE64" cmd /c "$(winpath "$WORK/query.bat")" 2>/dev/null | tr -d '\r')
  for v in $versions; do  # (every value's text is the unit tests' job)
    in_ini=$(echo "$regs" | grep -c "^    v$v    REG_SZ    .*viewer.exe ^.v$v\$")
    in_hkcr=$(echo "$regs" | grep -cx -e "    (Default)    REG_SZ    VFile$v" -e "    (Default)    REG_SZ    \".*\\\\$v\\\\viewer.exe\" \"%1\"")
    [ "$in_ini $in_hkcr" = "$([ $v = win31 ] && echo 1 0 || echo 0 2)" ] || fail "$v: class [$regs]"
  done
  ;;
hostile_paths)
  # Parent steps, other archivers' directory fields and entries, device names
  # and a control byte: twelve files, all inside, each device's data in one.
  build
  python3 "$SFX_ROOT/tests/e2e/hostile.py" paths sfx.exe
  extracted sfx.exe "$DEST_WIN\\deep\\er"
  expect_boxes
  outside=$(cd "$DEST" && find . -mindepth 1 | grep -v -x -e ./deep -e ./deep/er -e './deep/er/.*')
  [ -z "$outside" ] || fail "written outside the destination: $outside"
  [ "$(find "$DEST" -type f | wc -l)" = 12 ] || fail "files: $(cd "$DEST" && find . -type f)"
  for d in nul aux lpt1 con com1 ctl; do grep -rqx "dev-$d" "$DEST" || fail "dev-$d in no file"; done
  # Cut right where its archive begins, the integrity sum with it.
  build --integrity-sum
  head -c "$(od -An -tu4 -j512 -N4 sfx.exe)" sfx.exe > cut.exe
  run_bg cut.exe -n "$DEST_WIN\\cut"
  wine_answer "$TITLE" 1 Return
  wait $pid; expect_status $? 0
  wine_box_texts "$LOG" | grep -q '" Tampered DATA$' || fail "boxes: $(wine_box_texts "$LOG")"
  ;;
*) fail "unknown case" ;;
esac
echo "PASS [$CASE]"
