#!/usr/bin/env bash
# Cross-builds diveconnector for 64-bit Windows with mingw-w64 and tests it under wine:
#
#   scripts/windows.sh [LIBDIVECOMPUTER_SOURCE [LIBUSB_SOURCE HIDAPI_SOURCE]]
#
# Over dcsim, in build/windows: diveconnector.dll, dcsim.dll and the C++ unit tests. Given a
# libdivecomputer source (archive or tree), also in build/windows-real: that libdivecomputer for
# Windows (scripts/libdivecomputer.sh --windows, with USB and USB HID when libusb's and hidapi's
# sources are given), diveconnector.dll against it, and the package an
# application ships, build/windows-real/diveconnector-VERSION-windows-x64 and its .zip. Checks
# that each diveconnector.dll exports exactly its JNI functions (tests/jvm/jni_exports.txt, and
# JNI_OnLoad) and that no DLL needs one of the compiler's; then runs the tests under wine: a
# HotSpot-like load of the library from another folder, the unit tests over dcsim, and against
# the real libdivecomputer the downloads from an emulated serial computer (tests/windows).
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# > 3 || $# == 2)); then
    echo "usage: scripts/windows.sh [LIBDIVECOMPUTER_SOURCE [LIBUSB_SOURCE HIDAPI_SOURCE]]" >&2
    exit 2
fi
source=${1:-}
usb=()
(($# == 3)) && usb=(--libusb "$2" --hidapi "$3")
jobs=2
build=build/windows
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
scripts/setup.sh cmake make g++-mingw-w64-x86-64 openjdk-17-jdk-headless googletest wine64

# Debian ships GoogleTest as source only: build it with the same toolchain.
googletest=$PWD/$build/googletest-install
if [[ ! -f $googletest/lib/cmake/GTest/GTestConfig.cmake ]]; then
    echo "== GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$googletest" >/dev/null
    cmake --build "$build/googletest" -j "$jobs" >/dev/null
    cmake --install "$build/googletest" >/dev/null
fi

objdump=x86_64-w64-mingw32-objdump
# Exactly the JNI functions, and JNI_OnLoad, which loads libdivecomputer from the DLL's folder.
expected=$( (grep -v '^#' tests/jvm/jni_exports.txt | sed '/^$/d'; echo JNI_OnLoad) | sort)
check_exports() {
    local library=$1 exports
    exports=$($objdump -p "$library" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && NR > 1 {print $NF}' | sort)
    if [[ $exports != "$expected" ]]; then
        echo "$library exports:" >&2
        echo "$exports" >&2
        echo "expected exactly:" >&2
        echo "$expected" >&2
        exit 1
    fi
    echo "$library exports exactly: $(echo $exports)"
}
# A JVM loads the DLLs with nothing beside them but each other.
check_dependencies() {
    local dll needed
    for dll in "$@"; do
        needed=$($objdump -p "$dll" | awk '/DLL Name:/ {print $3}')
        if grep -Eiq '^(libstdc\+\+|libgcc|libwinpthread)' <<<"$needed"; then
            echo "$dll needs a compiler DLL:" $needed >&2
            exit 1
        fi
        echo "$dll needs:" $needed
    done
}

wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64 2>/dev/null || true)
export WINEDEBUG=-all WINEPREFIX=$PWD/$build/wineprefix
# wine now and then fails to start a process at all (no output, no time); such a run is retried,
# while a test that really fails fails every time.
wine_tests() {
    if [[ -z $wine ]]; then
        echo "== No wine: the tests are built, not run"
        return
    fi
    "$wine" wineboot --init >/dev/null 2>&1
    ctest --test-dir "$1" --output-on-failure -j "$jobs" "${@:2}" --repeat until-pass:3
}

echo "== Build over dcsim"
# Executables and DLLs in one directory, where Windows looks for a program's DLLs.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim -DGTest_DIR="$googletest/lib/cmake/GTest" \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$PWD/$build/bin" >/dev/null
cmake --build "$build" -j "$jobs"

echo "== Exports and DLL dependencies over dcsim"
check_exports "$build/bin/diveconnector.dll"
check_dependencies "$build/bin/diveconnector.dll" "$build/bin/dcsim.dll"

echo "== Tests under wine over dcsim"
wine_tests "$build" -L native

[[ -n $source ]] || exit 0

echo "== libdivecomputer for Windows from $source"
prefix=$(scripts/libdivecomputer.sh --windows "${usb[@]}" --jobs "$jobs" "$source")
real=build/windows-real

echo "== Build against it"
# CMAKE_PREFIX_PATH: pkg-config finds libdivecomputer there, and the toolchain file searches it.
cmake -S . -B "$real" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DDIVECONNECTOR_LIBDIVECOMPUTER=system -DCMAKE_PREFIX_PATH="$prefix" \
    -DGTest_DIR="$googletest/lib/cmake/GTest" >/dev/null
cmake --build "$real" -j "$jobs"

echo "== The package"
version=$(sed -n 's/^project(diveconnector VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=diveconnector-$version-windows-x64
package=$PWD/$real/$name
rm -rf "$package" "$package.zip"
cmake --install "$real" --prefix "$package" >/dev/null
# The licences of the DLLs: libdivecomputer's, and libusb's and hidapi's when built with them.
mkdir -p "$package/licenses"
cp -r "$prefix/share/licenses/." "$package/licenses/"
scripts/windows-readme.sh "$prefix" >"$package/README-windows.txt"
(cd "$real" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$package.zip:"
(cd "$package" && find . -type f | sort | sed 's|^\./|    |')

echo "== Exports and DLL dependencies of the package"
check_exports "$package/bin/diveconnector.dll"
check_dependencies "$package"/bin/*.dll

echo "== Tests under wine against libdivecomputer"
wine_tests "$real" -L windows
if [[ -n $wine ]]; then
    # The package itself, as a JVM loads it, from a folder of its own.
    dependency=$(cd "$package/bin" && ls libdivecomputer*.dll)
    (cd "$real/tests/windows/elsewhere" &&
        "$wine" ../loader/load_library.exe "$package/bin/diveconnector.dll" "$dependency")
fi
