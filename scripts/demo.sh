#!/usr/bin/env bash
# The main job: builds the uninstaller, installs a demo product into the build's Wine prefix and
# uninstalls it, then shows what the run removed.
source "$(dirname "$0")/common.sh"

kv_ensure_packages
kv_build
trap 'kv_stop_wine' EXIT
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
cp "$bin/kvUninstall.exe" "$bin/kvUninstallCli.exe" "$install_unix/"
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
kv_log "running the uninstall engine in $install_win, then its clean-up script"
(cd "$install_unix" && wine ./kvUninstallCli.exe --delete-self) || true
# The script runs on after the program has ended: give it a moment to take the folder.
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
