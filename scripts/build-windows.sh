#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests into build-windows/ (or
# $SKAV_WINDOWS_BUILD_DIR) with Debian's MinGW-w64, after installing the Debian packages of
# scripts/debian-packages.txt that are missing, then makes the distribution in dist/:
# skav-windows-x86_64.zip (the programs, the README, examples/), the installer skav-setup.exe
# (NSIS) and the package skav.msi (msitools' wixl). With SKAV_SIGN_CERT and SKAV_SIGN_KEY (files;
# see scripts/sign-windows.sh) the programs and both installers are signed, else it says they
# are unsigned. Extra arguments go to cmake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_WINDOWS_BUILD_DIR:-$root/build-windows}

"$here/install-packages.sh"

werror=OFF
[ -n "${CI:-}" ] && werror=ON
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G "${SKAV_GENERATOR:-${CMAKE_GENERATOR:-Ninja}}")
cmake "${generator[@]}" -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-Release} -DSKAV_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The distribution: the programs without their symbols, the README and the examples.
dist=${SKAV_DIST_DIR:-$root/dist}
stage=$build/stage
rm -rf "$stage"
mkdir -p "$stage" "$dist"
for program in skav src/frontends/win32/skav-gui; do
  x86_64-w64-mingw32-strip -o "$stage/${program##*/}.exe" "$build/$program.exe"
done
"$here/sign-windows.sh" "$stage/skav.exe" "$stage/skav-gui.exe"
cp "$root/README.md" "$stage/"
cp -r "$root/examples" "$stage/"
rm -f "$dist/skav-windows-x86_64.zip"
(cd "$stage" && cmake -E tar cf "$dist/skav-windows-x86_64.zip" --format=zip \
  skav.exe skav-gui.exe README.md examples)
version=$(sed -n 's/^project(skav VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
makensis -V2 -DSTAGE="$stage" -DOUTFILE="$dist/skav-setup.exe" -DVERSION="$version" \
  "$root/installer/skav.nsi"

# The MSI: wixl takes the sources relative to the stage; the examples' components are listed
# from the staged folder, so that a new example file needs no change to the package.
(cd "$stage" && find ./examples -type f | LC_ALL=C sort |
  wixl-heat -p ./ --component-group ExampleFiles --directory-ref INSTALLDIR --var var.Stage \
    --win64 >examples.wxs &&
  wixl -a x64 -D Version="$version" -D Stage=. -D Win64=yes -o "$dist/skav.msi" \
    "$root/installer/skav.wxs" examples.wxs)
rm -f "$stage/examples.wxs"
"$here/sign-windows.sh" "$dist/skav-setup.exe" "$dist/skav.msi"
echo "Windows distribution: $dist/skav-windows-x86_64.zip, $dist/skav-setup.exe, $dist/skav.msi"
