#!/usr/bin/env bash
# Builds libdivecomputer from a source archive (.tar.gz, as libdivecomputer.org and its git
# host release it) or a source tree into a prefix of its own, and prints that prefix on the
# standard output (everything else goes to the standard error):
#
#   prefix=$(scripts/libdivecomputer.sh libdivecomputer-0.9.0.tar.gz)
#   PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake -S . -B build -DDIVECONNECTOR_LIBDIVECOMPUTER=system
#
# Linux builds get every transport Debian has: serial (pseudo-terminals included, which the
# project's emulated dive computers use), USB (libusb), USB HID (hidapi on hidraw), classic
# Bluetooth (BlueZ); dctool, libdivecomputer's example tool, comes with it. --windows cross-builds
# for 64-bit Windows with mingw-w64 (serial, IrDA and Bluetooth through Winsock; USB and USB HID
# with --libusb and --hidapi, which cross-build those libraries from their sources into the same
# prefix first). The licences of what it installs go to PREFIX/share/licenses/NAME/.
#
# A prefix that holds a finished build of the same source with the same options is reused as it
# is, so a rerun costs nothing. Releases install the same libdivecomputer.so.0 with different
# ABIs: give each its own prefix (the default is named after the source).
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    cat >&2 <<'EOF'
usage: scripts/libdivecomputer.sh [--windows [--libusb SOURCE --hidapi SOURCE]] [--prefix DIR]
                                  [--jobs N] SOURCE
  SOURCE        a libdivecomputer source archive (.tar.gz) or source tree
  --windows     cross-build for 64-bit Windows with mingw-w64
  --libusb, --hidapi  with --windows: libusb's and hidapi's source archives or trees, for USB
                and USB HID
  --prefix DIR  install there (default: build/libdivecomputer/NAME-linux or NAME-windows)
  --jobs N      parallel make jobs (default 2)
EOF
    exit 2
}

platform=linux
prefix=""
jobs=2
source=""
libusb=""
hidapi=""
while (($# > 0)); do
    case $1 in
    --windows) platform=windows ;;
    --prefix) (($# >= 2)) || usage; prefix=$2; shift ;;
    --jobs) (($# >= 2)) || usage; jobs=$2; shift ;;
    --libusb) (($# >= 2)) || usage; libusb=$(realpath "$2"); shift ;;
    --hidapi) (($# >= 2)) || usage; hidapi=$(realpath "$2"); shift ;;
    -h | --help) usage ;;
    -*) echo "libdivecomputer.sh: unknown option $1" >&2; usage ;;
    *) [[ -z $source ]] || usage; source=$1 ;;
    esac
    shift
done
[[ -n $source ]] || usage
if [[ -n $libusb$hidapi && ($platform != windows || -z $libusb || -z $hidapi) ]]; then
    echo "libdivecomputer.sh: --libusb and --hidapi go together, with --windows" >&2
    usage
fi
if [[ ! -e $source ]]; then
    echo "libdivecomputer.sh: $source does not exist" >&2
    exit 1
fi
source=$(realpath "$source")

name=$(basename "$source")
name=${name%.tar.gz}
name=${name%.tgz}
[[ -n $prefix ]] || prefix=$project/build/libdivecomputer/$name-$platform
mkdir -p "$prefix"
prefix=$(realpath "$prefix")

options=(--prefix="$prefix" --disable-doc)
if [[ $platform == linux ]]; then
    # A pseudo-terminal has no modem lines: without --enable-pty, setting DTR or RTS fails on it.
    options+=(--enable-pty --with-libusb --with-hidapi=hidapi-hidraw --with-bluez)
    packages=(autoconf automake libtool pkg-config make gcc libusb-1.0-0-dev libhidapi-dev
              libbluetooth-dev)
    expected=(HAVE_LIBUSB HAVE_HIDAPI HAVE_BLUEZ)
else
    # Windows reaches Bluetooth through Winsock; BlueZ is Linux's.
    options+=(--host=x86_64-w64-mingw32 --without-bluez)
    packages=(autoconf automake libtool pkg-config make g++-mingw-w64-x86-64)
    expected=(HAVE_WS2BTH_H)
fi

# What a build was made from: the archive's contents, or the tree's files and their times.
fingerprint() {
    local sum
    if [[ -f $1 ]]; then
        sum=$(sha256sum <"$1")
    else
        sum=$(cd "$1" && find . -path ./.git -prune -o -type f -printf '%P %s %T@\n' |
            LC_ALL=C sort | sha256sum)
    fi
    echo "${sum%% *}"
}
stamp_text="source $(fingerprint "$source")
options ${options[*]}
licences share/licenses"
if [[ -n $libusb ]]; then
    stamp_text+="
libusb $(fingerprint "$libusb")
hidapi $(fingerprint "$hidapi")"
    expected+=(HAVE_LIBUSB HAVE_HIDAPI)
fi
stamp=$prefix/.diveconnector-build
if [[ -f $stamp && $(<"$stamp") == "$stamp_text" ]]; then
    echo "libdivecomputer.sh: $prefix already holds this build" >&2
    echo "$prefix"
    exit 0
fi

"$project/scripts/setup.sh" "${packages[@]}" >&2

# The work tree lives beside the prefix and goes once the build is installed: autoreconf and an
# in-tree build would otherwise change the caller's source tree.
if [[ -f $stamp ]]; then
    rm -rf "$prefix"
elif [[ -n $(ls -A "$prefix") ]]; then
    echo "libdivecomputer.sh: $prefix holds files of something else; choose another --prefix" >&2
    exit 1
fi
work=$prefix.work
rm -rf "$work"
mkdir -p "$work" "$prefix"
log=$work/build.log
fail() {
    echo "libdivecomputer.sh: $1 failed; the last lines of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
}
# Unpacks SOURCE into DIR, copies its licence files (given as globs) to the prefix and makes
# DIR the current directory, configure ready.
unpack() {
    local from=$1 into=$2 name=$3
    shift 3
    mkdir -p "$into" "$prefix/share/licenses/$name"
    if [[ -f $from ]]; then
        tar -xzf "$from" -C "$into" --strip-components=1
    else
        cp -a "$from/." "$into/"
    fi
    cd "$into"
    local licence
    for licence in "$@"; do
        cp $licence "$prefix/share/licenses/$name/"
    done
    if [[ ! -x configure ]]; then
        autoreconf --install >>"$log" 2>&1 || fail "autoreconf of $name"
    fi
}

# USB and USB HID for Windows: libdivecomputer's configure finds them through pkg-config.
for library in ${libusb:+libusb} ${hidapi:+hidapi}; do
    echo "libdivecomputer.sh: building $library for Windows into $prefix" >&2
    if [[ $library == libusb ]]; then
        unpack "$libusb" "$work/libusb" libusb COPYING
    else
        unpack "$hidapi" "$work/hidapi" hidapi 'LICENSE*.txt'
    fi
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH="" ./configure \
        --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-static >>"$log" 2>&1 ||
        fail "configure of $library"
    make -j "$jobs" >>"$log" 2>&1 || fail "make of $library"
    make install >>"$log" 2>&1 || fail "make install of $library"
done

echo "libdivecomputer.sh: building $name for $platform into $prefix" >&2
unpack "$source" "$work/libdivecomputer" libdivecomputer COPYING
if [[ $platform == windows ]]; then
    # Debian has no mingw pkg-config: the build machine's would find Linux's packages.
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH="" ./configure "${options[@]}" \
        >>"$log" 2>&1 || fail configure
else
    ./configure "${options[@]}" >>"$log" 2>&1 || fail configure
fi
for define in "${expected[@]}"; do
    grep -q "^#define $define 1" config.h || fail "finding $define (see config.log)"
done
make -j "$jobs" >>"$log" 2>&1 || fail make
make install >>"$log" 2>&1 || fail "make install"
if [[ $platform == windows ]]; then
    # Winsock serves IrDA and Bluetooth: a static link needs it, and the .pc does not say so.
    sed -i 's/^Libs.private: \(.*\)$/Libs.private: \1 -lws2_32/' "$prefix/lib/pkgconfig/libdivecomputer.pc"
fi
cd "$project"
rm -rf "$work"
printf '%s\n' "$stamp_text" >"$stamp"

echo "libdivecomputer.sh: done; configure the project with" >&2
echo "  PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake -S . -B build -DDIVECONNECTOR_LIBDIVECOMPUTER=system" >&2
echo "$prefix"
