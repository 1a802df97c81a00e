#!/bin/sh
# The SDK as a program built on it meets it: installed with cmake --install, the example of
# examples/ configured against the installed SDK alone (not this build tree), built, and run under
# Wine; it checks what the toolkit gives it and exits 0 when all is as documented.
#   example.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1 build=$2
sdk="$build/sdk" example="$build/sdk-example"
rm -rf "$sdk" "$example"
cmake --install "$build" --prefix "$sdk" >/dev/null
cmake -S "$src/examples" -B "$example" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-i686.cmake" \
      -DCMAKE_PREFIX_PATH="$sdk" >/dev/null
cmake --build "$example" >/dev/null
cd "$example" && wine ./example.exe
