#!/usr/bin/env bash
# Packs the Windows build for installation: the plug-in, the stand-in host
# library, the command-line host, the public header, README.md and the
# installation note go into
#
#   build-win/package/sorvan_view-VERSION-win32/
#   build-win/package/sorvan_view-VERSION-win32.zip
#
#   scripts/package.sh
#
# The three programs are (re)built in build-win/ first, with the cross
# toolchain (installed as root when missing). The DLLs and the program are
# packed without their debugging information, and the packed DLLs are checked
# again as the tests check the built ones. Text files get CR LF line ends.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++-mingw-w64-i686-posix libeigen3-dev nlohmann-json3-dev

build=build-win
version=$(sed -n 's/^project(sorvan_view VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=sorvan_view-$version-win32
out=$build/package
folder=$out/$name

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}" --target sorvan_view plexa sorvan >/dev/null

rm -rf "$folder" "$out/$name.zip"
mkdir -p "$folder"
for file in sorvan_view.dll plexa.dll sorvan.exe; do
    i686-w64-mingw32-strip --strip-debug -o "$folder/$file" "$build/$file"
done
cp include/sorvan_view.h "$folder/"
for file in README.md packaging/INSTALL.txt; do
    sed 's/\r*$/\r/' "$file" >"$folder/$(basename "$file")"
done

cmake -DOBJDUMP=i686-w64-mingw32-objdump -DSTRINGS=i686-w64-mingw32-strings \
    -DPLUGIN="$folder/sorvan_view.dll" -DPLUGIN_EXPORTS=frame/exports.txt \
    -DHOST="$folder/plexa.dll" -DHOST_EXPORTS=host/exports.txt \
    -P tests/windows_artifact_test.cmake

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
ls -l "$folder"
echo "packed $out/$name.zip ($(wc -c <"$out/$name.zip") bytes)"
