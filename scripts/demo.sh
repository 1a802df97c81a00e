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
wine "$bin/kvrecord.exe" write "${install_win}kvUninstall.dat" \
  --key "BrixDemo" --name "$product" --menu "$product" --dir "$install_win"
wine "$bin/kvrecord.exe" print "${install_win}kvUninstall.dat"

before=$(cd "$install_unix" && find . -mindepth 1 | sort)
kv_log "running the uninstall engine in $install_win"
(cd "$install_unix" && wine ./kvUninstallCli.exe)
after=$( [ -d "$install_unix" ] && cd "$install_unix" && find . -mindepth 1 | sort || true)

kv_log "removed:"
comm -23 <(printf '%s\n' "$before") <(printf '%s\n' "$after") | sed 's/^\.\//  /'
kv_log "left (the running program goes last, through its clean-up script):"
printf '%s\n' "$after" | sed '/^$/d; s/^\.\//  /'
