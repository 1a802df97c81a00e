#!/bin/sh
# kvUninstall.exe without a display, where Wine can make no window: the window's creation fails and
# the program must end at once with exit code 1, not wait invisibly for a quit that never comes
# (Wine's diagnostic shows the refusal). A prefix of its own: a desktop made without a display
# refuses every later window.
exe="${1:?kvUninstall.exe}"
export WINEPREFIX="${WINEPREFIX:?}-nodisplay"
unset DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i; wineserver -w; } </dev/null >/dev/null 2>&1
dir="$WINEPREFIX/drive_c/kvtest/app_no_window"
rm -rf "$dir" && mkdir -p "$dir" && cp "$exe" "$dir/kvUninstall.exe" && cd "$dir" || exit 1
WINEDEBUG=-all,err+winediag timeout 60 wine ./kvUninstall.exe </dev/null >log.txt 2>&1; code=$?
wineserver -k </dev/null >/dev/null 2>&1
[ "$code" -ne 124 ] || { echo "FAILED: still running after 60 s without a window"; exit 1; }
grep -q "no driver could be loaded" log.txt || { echo "FAILED: no window refused (exit $code)"; cat log.txt; exit 1; }
[ "$code" -eq 1 ] || { echo "FAILED: exit code $code, not 1"; exit 1; }
echo "window refused; ended with exit code 1"
