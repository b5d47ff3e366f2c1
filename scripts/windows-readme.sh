#!/usr/bin/env bash
# Writes the README of the Windows package (scripts/windows.sh) on the standard output, for the
# libdivecomputer for Windows in PREFIX: the models it cannot reach come from the project's copy
# of that release's descriptor table (tests/fixtures), by the transports the build has.
#
#   scripts/windows-readme.sh PREFIX
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
(($# == 1)) || { echo "usage: scripts/windows-readme.sh PREFIX" >&2; exit 2; }
prefix=$1

project_version=$(sed -n 's/^project(diveconnector VERSION \([0-9.]*\).*/\1/p' "$project/CMakeLists.txt")
version=$(sed -n 's/^Version: //p' "$prefix/lib/pkgconfig/libdivecomputer.pc")
dll=$(cd "$prefix/bin" && ls libdivecomputer*.dll)
imports=$(x86_64-w64-mingw32-objdump -p "$prefix/bin/$dll" | awk '/DLL Name:/ {print $3}')

# libdivecomputer's transport bits, and which of them this build reaches.
names=([1]=serial [2]=USB [4]="USB HID" [8]=IrDA [16]=Bluetooth [32]=BLE)
reached=$((1 | 8 | 16 | 32))
grep -qi '^libusb-1.0.dll$' <<<"$imports" && reached=$((reached | 2))
grep -qi 'hidapi' <<<"$imports" && reached=$((reached | 4))
missing=()
for bit in 2 4; do
    ((reached & bit)) || missing+=("${names[$bit]}")
done

cat <<TEXT
diveconnector $project_version for 64-bit Windows, with libdivecomputer $version
====================================================================

bin\\diveconnector.dll       The JNI library. A Java application loads it with
                            System.load("<folder>\\\\bin\\\\diveconnector.dll"), or with
                            System.loadLibrary("diveconnector") and <folder>\\bin on
                            java.library.path; its classes are in share\\java\\diveconnector-java.jar.
bin\\$dll   libdivecomputer (LGPL-2.1), which diveconnector.dll loads from its own folder.
TEXT
for usb in $(cd "$prefix/bin" && ls libusb*.dll libhidapi*.dll 2>/dev/null); do
    printf 'bin\\%-23s %s\n' "$usb" "needed by libdivecomputer for USB and USB HID models."
done
cat <<TEXT
bin\\diveconnector.cmd       The command-line tool: diveconnector.cmd list, scan, download
                            (--help for the options). It needs Java 17 or later: java on PATH,
                            or JAVA_HOME set.
share\\java\\                 The application's classes and the tool.
licenses\\                   The licences of the libraries in bin.

Keep the DLLs of bin together in one folder. diveconnector.dll finds them beside itself,
whatever the working folder and PATH; without them System.load fails with an
UnsatisfiedLinkError that names the missing DLL.

Replacing libdivecomputer
-------------------------
diveconnector.dll uses only libdivecomputer's public API and loads whichever $dll lies
beside it: to use a libdivecomputer of your own (LGPL-2.1 lets you change it), build the same
release for Windows (its source is at https://www.libdivecomputer.org/releases/; diveconnector's
source builds it with scripts/libdivecomputer.sh --windows) and put its DLL in place of this one.

Ports
-----
A dive computer on a serial cable, a USB-serial cable or a Bluetooth serial port is named by
its COM port, for instance COM3 (Device Manager, "Ports (COM & LPT)", shows the number):
diveconnector.cmd download --port COM3 --vendor Suunto --product Vyper. diveconnector.cmd scan
lists the COM ports Windows has.

USB-serial cables need their maker's driver before Windows gives them a COM port: most dive
computer cables have an FTDI chip (Windows Update usually installs its driver when the cable is
first plugged in; otherwise see https://ftdichip.com/drivers/vcp-drivers/), others a Silicon Labs
CP210x or a Prolific PL2303. Bluetooth computers that offer a serial port get a COM port once
paired in Windows' Bluetooth settings; classic Bluetooth computers may also be named by their address.

Bluetooth Low Energy (BLE) computers (Shearwater Perdix 2 and Teric, Scubapro Aladin A2, Mares
Sirius, ...) need Windows 8 or later and must be paired with Windows first: put the computer in
its Bluetooth mode, pair it in Windows' Bluetooth settings (Settings, Bluetooth & devices, Add
device, Bluetooth), then download with its address: diveconnector.cmd download --port
ble:AA:BB:CC:DD:EE:FF --vendor Shearwater --product "Perdix 2". diveconnector.cmd scan lists the
paired BLE devices. A computer that is not paired fails with [-4]: Error opening device., one
that is paired but off or out of reach with [-7]. This BLE link has been tested only against a
simulation of Windows' Bluetooth API, never on real Windows.
TEXT

if ((${#missing[@]} > 0)); then
    list=$(IFS=,; echo "${missing[*]}" | sed 's/,/, /g; s/\(.*\), /\1 or /')
    echo
    echo "What this package cannot reach"
    echo "------------------------------"
    echo "This build has no $list transport."
    table=$project/tests/fixtures/libdivecomputer-$version-descriptors.tsv
    if [[ -f $table ]]; then
        echo "These models of libdivecomputer $version have no other, so it cannot download from them:"
        echo
        # One line per model; a model listed once per transport appears once, with them all.
        tail -n +2 "$table" | while IFS=$'\t' read -r vendor product _ _ _ transports; do
            ((transports & reached)) && continue
            ways=()
            for bit in 2 4; do
                ((transports & bit)) && ways+=("${names[$bit]}")
            done
            printf '    %s %s (%s)\n' "$vendor" "$product" "$(IFS=,; echo "${ways[*]}" | sed 's/,/, /g')"
        done | awk '!seen[$0]++'
    else
        echo "diveconnector.cmd list --transport usb (or usbhid) names the models that need it."
    fi
fi
