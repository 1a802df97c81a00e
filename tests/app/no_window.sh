#!/bin/sh
# kvUninstall.exe started without a display, where Wine can make no window: the main window's
# creation fails, and the program must end at once with exit code 1. Waiting, invisible, for a quit
# that never comes is the fault this catches. Wine's own diagnostic shows that the window really
# was refused, so that a program that ends for any other reason does not pass.
#
# It runs in a prefix of its own: the first program of a prefix that needs a window makes the
# prefix's desktop, and a desktop made without a display would refuse every later window.
set -u
exe="${1:?kvUninstall.exe}"
WINEPREFIX="${WINEPREFIX:?}-nodisplay"
export WINEPREFIX
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
fi
dir="$WINEPREFIX/drive_c/kvtest/app_no_window"
rm -rf "$dir" && mkdir -p "$dir" && cp "$exe" "$dir/kvUninstall.exe" || exit 1
cd "$dir" || exit 1
WINEDEBUG=-all,err+winediag timeout 60 wine ./kvUninstall.exe </dev/null >log.txt 2>&1
code=$?
wineserver -k </dev/null >/dev/null 2>&1
if [ "$code" -eq 124 ]; then echo "FAILED: still running after 60 s without a window"; exit 1; fi
if ! grep -q "no driver could be loaded" log.txt; then
  echo "FAILED: no window was refused (exit code $code)"; cat log.txt; exit 1
fi
if [ "$code" -ne 1 ]; then echo "FAILED: exit code $code, not 1"; exit 1; fi
echo "window refused; ended with exit code 1"
