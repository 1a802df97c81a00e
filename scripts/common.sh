# Shared by the README's commands: packages, build, the build's own Wine prefix, Xvfb.
# Sourced, not run. Every step is idempotent and quick when its work is already done.
set -euo pipefail

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD:-$KV_ROOT/build}

kv_log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

# Debian packages the build and the tests need; installs only what is missing.
kv_ensure_packages() {
  local packages=(cmake ninja-build python3 googletest g++-mingw-w64-i686-posix
    gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 wine64 xvfb
    libz-mingw-w64 fonts-wine fonts-wqy-microhei imagemagick x11-apps xdotool locales openssl
    osslsigncode nsis)
  local missing=()
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    kv_log "installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  # The product's own system (Simplified Chinese) and, for the conversions, a Traditional one.
  local wanted_locales=(zh_CN zh_TW) generate=0
  for l in "${wanted_locales[@]}"; do
    locale -a 2>/dev/null | grep -qix "$l.utf8" && continue
    grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    generate=1
  done
  if [ "$generate" -eq 1 ]; then
    kv_log "generating the zh_CN.UTF-8 and zh_TW.UTF-8 locales"
    $sudo locale-gen >/dev/null
  fi
}

kv_build() {
  kv_log "building in $KV_BUILD"
  # A new build folder is configured; options given (-D...) are applied to an existing one too.
  if [ ! -f "$KV_BUILD/build.ninja" ] || [ "$#" -gt 0 ]; then
    cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-i686.cmake" "$@" >/dev/null
  fi
  cmake --build "$KV_BUILD" -j "$(nproc)"
}

# The build's own 32-bit prefix, running on the product's locale (Simplified Chinese, code page
# 936). Wine's services start with every stream detached: started from ctest they would inherit
# its output pipe and ctest would wait for ever.
kv_start_wine() {
  export WINEPREFIX=${WINEPREFIX:-$KV_BUILD/wineprefix}
  export WINEARCH=win32 WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    kv_log "creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
  # A server left running from a start without this display would keep the old screen (Wine
  # then takes it for 1024 x 768): every run starts the prefix's services afresh.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1 || true
  # Plain wineboot starts the services; "-u" would rewrite the prefix each time, and its work
  # runs on after it returns, beside the first tests.
  wineboot </dev/null >/dev/null 2>&1 || true
  kv_isolate_shell_folders "$WINEPREFIX"
  # Marked per version of the replacements, so an older prefix gets the current ones.
  if [ ! -f "$WINEPREFIX/.kv-fonts-2" ]; then
    kv_set_font_replacements && touch "$WINEPREFIX/.kv-fonts-2"
  fi
}

# Wine links the user's Desktop, Documents, Downloads and the like to the Linux home. The tests
# and the demo delete in those folders (and the uninstaller must be shown refusing to): each
# prefix gets real folders of its own there, so nothing can reach the machine's own home.
kv_isolate_shell_folders() {
  local users="$1/drive_c/users" dir
  [ -d "$users" ] || return 0
  for dir in "$users"/*/Desktop "$users"/*/Documents "$users"/*/Downloads "$users"/*/Music \
             "$users"/*/Pictures "$users"/*/Videos "$users"/*/Templates; do
    if [ -L "$dir" ]; then
      rm -f "$dir" && mkdir -p "$dir"
    fi
  done
}

# Wine has no Windows fonts: the faces the toolkit asks for are served by WenQuanYi Micro Hei.
kv_set_font_replacements() {
  local reg="$KV_BUILD/fonts.reg"
  # A version-5 .reg file in UTF-16: regedit reads a REGEDIT4 file in the prefix's ANSI code page,
  # which would garble the Chinese value names.
  { printf '\xff\xfe'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="WenQuanYi Micro Hei"\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n"SimSun"="WenQuanYi Micro Hei"\r\n"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n' |
      iconv -f UTF-8 -t UTF-16LE; } > "$reg"
  wine regedit "$(winepath -w "$reg" 2>/dev/null)" </dev/null >/dev/null 2>&1 || true
}

# The build's own 64-bit prefix, where the same 32-bit programs run under WOW64 and the two
# registry views differ. Its own server and services start detached, like the 32-bit prefix's;
# the shell keeps the 32-bit prefix as its WINEPREFIX.
kv_start_wine64() {
  local prefix="$KV_BUILD/wineprefix64"
  if [ ! -f "$prefix/system.reg" ]; then
    kv_log "creating the 64-bit Wine prefix $prefix"
    WINEPREFIX="$prefix" WINEARCH=win64 wineboot -i </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" WINEARCH=win64 wineserver -w </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" WINEARCH=win64 kv_set_font_replacements
  fi
  kv_isolate_shell_folders "$prefix"
  WINEPREFIX="$prefix" WINEARCH=win64 wineserver -p </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" WINEARCH=win64 wineboot </dev/null >/dev/null 2>&1 || true
}

kv_stop_wine() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -d "$KV_BUILD/wineprefix64" ]; then
    WINEPREFIX="$KV_BUILD/wineprefix64" WINEARCH=win64 wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
}

# A private X display for windows; leaves DISPLAY set.
kv_start_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  KV_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  kv_log "Xvfb did not start"
  return 1
}

kv_stop_xvfb() {
  [ -n "${KV_XVFB_PID:-}" ] && kill "$KV_XVFB_PID" 2>/dev/null || true
}
