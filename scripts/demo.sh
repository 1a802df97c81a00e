#!/usr/bin/env bash
# The main job: builds the uninstaller, installs a demo product into the build's Wine prefix and
# starts the real uninstaller window in it, then shows what the run removed. With DISPLAY set the
# window opens on that display and waits for you; without one it runs on a private Xvfb display,
# where this script clicks "卸 载" for you and keeps screenshots in build/artifacts/.
source "$(dirname "$0")/common.sh"

kv_ensure_packages
kv_build
headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  kv_start_xvfb
fi
trap 'kv_stop_wine; kv_stop_xvfb' EXIT
kv_start_wine

drive_c="$WINEPREFIX/drive_c"
product="Brix Demo"
install_unix="$drive_c/Program Files/$product"
install_win="C:\\Program Files\\$product\\"
bin="$KV_BUILD/bin"

kv_log "installing the demo product into $install_win"
rm -rf "$install_unix"
mkdir -p "$install_unix/bin" "$install_unix/data/maps" "$install_unix/docs"
for i in 1 2 3; do echo "sample $i" > "$install_unix/data/maps/map$i.dat"; done
echo "readme" > "$install_unix/docs/readme.txt"
echo "engine" > "$install_unix/bin/brix.exe"
cp "$bin/kvUninstall.exe" "$install_unix/"
[ -f "$bin/zlib1.dll" ] && cp "$bin/zlib1.dll" "$install_unix/"

# What an installer leaves outside its folder: the entry in the list of installed programs, a
# Start Menu folder, a link on the all-users desktop and one in Quick Launch (listed in the
# record, since the uninstaller does not look there by itself).
win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { winepath -u "$1" 2>/dev/null; }
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BrixDemo"
win reg add "$uninstall_key" /v DisplayName /d "$product" /f >/dev/null
win reg add "$uninstall_key" /v UninstallString /d "${install_win}kvUninstall.exe" /f >/dev/null
menu_win="$(win "$bin/kvshortcut.exe" folder programs)\\$product"
desktop_win=$(win "$bin/kvshortcut.exe" folder desktop)
quick_win=$(win "$bin/kvshortcut.exe" folder quicklaunch)
game_win="${install_win}bin\\brix.exe"
win "$bin/kvshortcut.exe" create "$menu_win" "$product" "$game_win" "Plays $product"
win "$bin/kvshortcut.exe" create "$menu_win" "Uninstall $product" "${install_win}kvUninstall.exe"
mkdir -p "$(unix_path "$menu_win")/Extras"
echo "how to play" > "$(unix_path "$menu_win")/Extras/Manual.txt"
win "$bin/kvshortcut.exe" create "$desktop_win" "$product" "$game_win"
win "$bin/kvshortcut.exe" create "$quick_win" "$product" "$game_win"

win "$bin/kvrecord.exe" write "${install_win}kvUninstall.dat" \
  --key "BrixDemo" --name "$product" --menu "$product" --dir "$install_win" \
  --shortcut "$quick_win\\$product.lnk"
win "$bin/kvrecord.exe" print "${install_win}kvUninstall.dat"

# Everything under a folder, one Windows path a line.
list_tree() {
  [ -d "$1" ] || return 0
  (cd "$1" && find . -mindepth 1 | sort) | while IFS= read -r p; do
    p=${p#./}
    printf '%s%s\n' "$2" "${p//\//\\}"
  done
}

# One line per thing the product left: files of its folder, then the traces outside it.
footprint() {
  [ -d "$install_unix" ] && echo "$install_win"
  list_tree "$install_unix" "$install_win"
  win reg query "$uninstall_key" >/dev/null 2>&1 && echo "registry: $uninstall_key"
  local menu_unix
  menu_unix=$(unix_path "$menu_win")
  [ -d "$menu_unix" ] && echo "Start Menu folder: $menu_win\\"
  list_tree "$menu_unix" "Start Menu folder: $menu_win\\"
  [ -f "$(unix_path "$desktop_win\\$product.lnk")" ] && echo "desktop link: $desktop_win\\$product.lnk"
  [ -f "$(unix_path "$quick_win\\$product.lnk")" ] && echo "listed link: $quick_win\\$product.lnk"
  true
}

before=$(footprint)
artifacts="$KV_BUILD/artifacts"
mkdir -p "$artifacts"
caption="栎禾软件-卸载程序"

# The window's id once it is shown and has stopped moving (it slides in from the left).
find_window() {
  local id="" last="" geo
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | tail -n 1 || true)
    if [ -n "$id" ]; then
      geo=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | tr '\n' ' ')
      [ -n "$last" ] && [ "$geo" = "$last" ] && { echo "$id"; return 0; }
      last=$geo
    fi
    sleep 0.1
  done
  return 1
}

# A screenshot of the window and a margin around it.
shoot() {
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  import -window root "$artifacts/demo_whole.png"
  convert "$artifacts/demo_whole.png" -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" \
    +repage "$artifacts/$2"
  rm -f "$artifacts/demo_whole.png"
  kv_log "screenshot: $artifacts/$2"
}

kv_log "starting kvUninstall.exe in $install_win"
(cd "$install_unix" && wine ./kvUninstall.exe </dev/null >/dev/null 2>&1) &
uninstaller=$!
if [ "$headless" = 1 ]; then
  window=$(find_window) || { kv_log "the uninstaller's window did not appear"; exit 1; }
  shoot "$window" demo_1_question.png
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y)=')"
  kv_log "clicking \"卸 载\""
  xdotool mousemove $((X + 289)) $((Y + 162))
  sleep 0.4
  xdotool click 1
  sleep 1
  shoot "$window" demo_2_progress.png
else
  kv_log "the uninstaller's window is open on $DISPLAY: uninstall or cancel there"
fi
status=0
wait "$uninstaller" || status=$?
kv_log "the uninstaller ended with exit code $status"
# The clean-up script runs on after the program has ended: give it a moment to take the folder.
for _ in $(seq 100); do
  [ -d "$install_unix" ] || break
  sleep 0.2
done
after=$(footprint)

kv_log "removed:"
comm -23 <(printf '%s\n' "$before" | sort) <(printf '%s\n' "$after" | sort) | sed '/^$/d; s/^/  /'
kv_log "left:"
printf '%s\n' "$after" | sed '/^$/d; s/^/  /'
[ -z "$after" ] || exit 1
