#!/usr/bin/python3
"""Downloads under wine through the library's own layer and the real libdivecomputer for Windows
from the emulated Suunto Vyper (tests/real/emulators/suunto_vyper.py) and, over BLE, from the
emulated Shearwater Perdix 2 (tests/ble/shearwater_petrel.py), compared value by value with what
the emulators encoded.

    wine_download.py WINE DOWNLOAD_DIVES_EXE PTY_SHIM_SOURCE EMULATOR BLE_RELAY

The emulator's pseudo-terminal becomes wine's COM5 ($WINEPREFIX/dosdevices/com5; for the scan, in
wine's registry of serial ports), and
download_dives.exe (tests/windows/download_dives.cpp) downloads from it with the shim
(pty_modem_lines.c, built here with the build machine's cc) preloaded, without which wine cannot
set DTR and RTS on a pseudo-terminal. Wine has no Bluetooth: over BLE, download_dives.exe stands
in a simulated Windows Bluetooth (--simulated-ble, tests/windows/simulated_bluetooth_api.h) whose
paired computer's end is the emulated Perdix 2, on a TCP port of BLE_RELAY (ble_relay.py).
"""

import json
import os
import pty
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

WINE, PROGRAM, SHIM_SOURCE, EMULATOR, RELAY = sys.argv[1:6]
SHIM = os.path.join(os.path.dirname(PROGRAM), "pty_modem_lines.so")
WINESERVER = shutil.which("wineserver", path=os.path.dirname(WINE)) or shutil.which("wineserver")
PORT = "COM5"
FEET = 0.3048
TIMEOUT = 300
# A read that ends with no byte fails as a timeout (-7) on Linux; wine's serial port reports it
# as an I/O error (-6), as it does a hung-up terminal, so either is a computer that said nothing.
NO_ANSWER = (-6, -7)


def as_float(value):
    """The value as the library's float profile series holds it."""
    return struct.unpack("f", struct.pack("f", value))[0]


class Vyper:
    """The emulated Vyper on COM5 for as long as the block runs."""

    def __init__(self, *options, registered=False):
        self.options = options
        self.registered = registered

    def __enter__(self):
        self.directory = tempfile.TemporaryDirectory()
        self.values_file = os.path.join(self.directory.name, "values.json")
        self.process = subprocess.Popen(
            [sys.executable, EMULATOR, "--values", self.values_file, *self.options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            raise RuntimeError(f"the emulator did not start: {line!r}")
        terminal = line.split()[1]
        if self.registered:
            # Wine's own serial ports are in its registry: the next wineserver makes this one COM5
            # and lists it where Windows lists serial ports (SERIALCOMM), as a driver would.
            wine_registry("add", "/d", terminal)
        else:
            # Only the link: the wineserver, which probes the ports of its registry at its start,
            # leaves the terminal alone during a download.
            link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", PORT.lower())
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(terminal, link)
        with open(self.values_file, encoding="utf-8") as file:
            self.values = json.load(file)
        return self

    def __exit__(self, *exception):
        if self.registered:
            wine_registry("delete")
        self.process.stdin.close()
        self.process.stdout.close()
        self.process.wait(timeout=TIMEOUT)
        self.directory.cleanup()


def wine_registry(action, *value):
    """Adds or deletes COM5 among wine's serial ports; the next wineserver acts on it."""
    subprocess.run([WINE, "reg", action, r"HKLM\Software\Wine\Ports", "/v", PORT, *value, "/f"],
                   check=True, capture_output=True, timeout=TIMEOUT)
    subprocess.run([WINESERVER, "-w"], check=True, timeout=TIMEOUT)


def run(*arguments, terminal=False):
    """download_dives.exe's JSON answer. With a terminal on its standard input, as when started
    from a command prompt, the program has a console whose control events it can send."""
    environment = dict(os.environ, LD_PRELOAD=SHIM)
    master, slave = pty.openpty() if terminal else (None, None)
    try:
        result = subprocess.run([WINE, PROGRAM, *arguments], env=environment, capture_output=True,
                                text=True, timeout=TIMEOUT,
                                stdin=slave if terminal else subprocess.DEVNULL)
    finally:
        if terminal:
            os.close(slave)
            os.close(master)
    lines = [line for line in result.stdout.splitlines() if line.startswith("{")]
    if result.returncode != 0 or not lines:
        raise AssertionError(f"download_dives failed ({result.returncode}):\n"
                             f"{result.stdout}\n{result.stderr}")
    return json.loads(lines[-1])


def download(*options, terminal=False):
    """The download's answer; a failure's answer holds libdivecomputer's log, for the reader."""
    with tempfile.TemporaryDirectory() as directory:
        log = os.path.join(directory, "log.txt")
        answer = run(PORT, "Suunto", "Vyper", "--log", windows_path(log), *options,
                     terminal=terminal)
        if "status" in answer and os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as file:
                answer["log"] = file.read()[-3000:]
        return answer


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class WineDownloadTest(unittest.TestCase):
    def assert_dives(self, encoded, answer):
        """The dives (newest first from the computer) are those encoded (oldest first)."""
        self.assertNotIn("status", answer, answer)
        dives = list(reversed(answer["dives"]))
        self.assertEqual(len(encoded), len(dives), answer)
        for expected, dive in zip(encoded, dives):
            where = expected["datetime"]
            self.assertEqual(expected["datetime"], dive["datetime"], where)
            self.assertEqual(expected["divetime"], dive["divetime"], where)
            self.assertAlmostEqual(expected["maxdepthFeet"] * FEET, dive["maxdepth"], 6, where)
            self.assertEqual(expected["oxygen"], round(dive["oxygen"]), where)
            self.assertEqual(expected["helium"], dive["helium"], where)
            self.assertEqual(expected["fingerprint"], dive["fingerprint"], where)
            self.assertEqual(len(expected["samples"]), len(dive["samples"]), where)
            for number, (sample, (time, depth, event, pressure, temperature)) in enumerate(
                    zip(expected["samples"], dive["samples"])):
                at = f"{where}, sample {number}"
                self.assertEqual(sample["time"], time, at)
                self.assertEqual(as_float(sample["depthFeet"] * FEET), as_float(depth), at)
                self.assertEqual(sample["event"], event, at)
                # A Vyper records neither pressure nor temperature per sample.
                self.assertFalse(pressure or temperature, at)

    def test_whole_download_brings_every_value(self):
        with Vyper() as vyper:
            answer = download()
            self.assert_dives(vyper.values["dives"], answer)
            self.assertEqual([vyper.values["model"], vyper.values["firmware"],
                              vyper.values["serial"]],
                             [answer["model"], answer["firmware"], answer["serial"]])
            self.assertFalse(answer["stopped"])

    def test_fingerprint_cache_brings_only_new_dives(self):
        with tempfile.TemporaryDirectory() as cache:
            with Vyper("--dives", "2") as vyper:
                self.assert_dives(vyper.values["dives"], download("--cache", windows_path(cache)))
                newest = vyper.values["dives"][-1]["fingerprint"]
            files = os.listdir(cache)
            self.assertEqual(1, len(files), files)
            with open(os.path.join(cache, files[0]), "rb") as file:
                self.assertEqual(bytes.fromhex(newest), file.read())
            # A third dive since: only it comes, and the cache then names it.
            with Vyper("--dives", "3") as vyper:
                self.assert_dives(vyper.values["dives"][2:],
                                  download("--cache", windows_path(cache)))
                newest = vyper.values["dives"][-1]["fingerprint"]
            self.assertEqual(files, os.listdir(cache))
            with open(os.path.join(cache, files[0]), "rb") as file:
                self.assertEqual(bytes.fromhex(newest), file.read())

    def test_interrupt_keeps_the_dives_before_it(self):
        with Vyper() as vyper:
            newest = vyper.values["dives"][-1]
            # Once the second dive's first packet is in, the newest dive is complete.
            answer = download("--interrupt-after", str(newest["size"]))
            self.assert_dives([newest], answer)
            self.assertTrue(answer["stopped"])

    def test_ctrl_c_cancels_the_download_and_keeps_the_cache(self):
        with tempfile.TemporaryDirectory() as cache:
            with Vyper("--dives", "2") as vyper:
                self.assert_dives(vyper.values["dives"], download("--cache", windows_path(cache)))
            files = os.listdir(cache)
            with open(os.path.join(cache, files[0]), "rb") as file:
                stored = file.read()
            # A console Ctrl-C during the new dive: the C runtime hands it to the library as
            # SIGINT, which cancels the download with no dive, and the cache stays as it was.
            with Vyper("--dives", "3"):
                answer = download("--cache", windows_path(cache), "--ctrl-c-after", "0",
                                  terminal=True)
            self.assertEqual((-10, "Error downloading the dives."),
                             (answer.get("status"), answer.get("message")), answer)
            self.assertNotIn("dives", answer)
            self.assertEqual(files, os.listdir(cache))
            with open(os.path.join(cache, files[0]), "rb") as file:
                self.assertEqual(stored, file.read())

    def test_failing_computer_fails_with_its_status(self):
        for fault, statuses in (("silent", NO_ANSWER), ("unplug", NO_ANSWER), ("corrupt", (-8,))):
            with self.subTest(fault=fault), Vyper("--fault", fault):
                answer = download()
                self.assertIn(answer.get("status"), statuses, answer)
                self.assertEqual("Error downloading the dives.", answer["message"], answer)



class Perdix:
    """The emulated Perdix 2 behind ble_relay.py for as long as the block runs."""

    ADDRESS = "C4:4F:33:12:AB:01"

    def __enter__(self):
        self.directory = tempfile.TemporaryDirectory()
        expected = os.path.join(self.directory.name, "expected.json")
        self.process = subprocess.Popen(
            [sys.executable, RELAY, json.dumps({"expected": expected})],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            raise RuntimeError(f"the relay did not start: {line!r}")
        self.port = line.split()[1]
        with open(expected, encoding="utf-8") as file:
            self.values = json.load(file)
        return self

    def __exit__(self, *exception):
        self.process.stdin.close()
        self.process.stdout.close()
        self.process.wait(timeout=TIMEOUT)
        self.directory.cleanup()


class WineBleDownloadTest(unittest.TestCase):
    def test_whole_ble_download_brings_every_value(self):
        with Perdix() as perdix:
            answer = run("ble:" + Perdix.ADDRESS, "Shearwater", "Perdix 2",
                         "--simulated-ble", perdix.port)
        self.assertNotIn("status", answer, answer)
        self.assertEqual(int(perdix.values["serial"]), answer["serial"])
        self.assertFalse(answer["stopped"])
        expected = {dive["dateTime"]: dive for dive in perdix.values["dives"]}
        self.assertEqual(len(expected), len(answer["dives"]), answer)
        for dive in answer["dives"]:
            where = dive["datetime"]
            want = expected.pop(where)
            self.assertEqual(want["diveTime"], dive["divetime"], where)
            self.assertEqual(as_float(want["maxDepth"]), as_float(dive["maxdepth"]), where)
            self.assertEqual(want["oxygen"], round(dive["oxygen"]), where)
            self.assertEqual(want["helium"], round(dive["helium"]), where)
            samples = list(zip(want["time"], want["depth"], want["event"], want["pressure"],
                               want["temperature"]))
            self.assertEqual(len(samples), len(dive["samples"]), where)
            for number, (sample, got) in enumerate(zip(samples, dive["samples"])):
                at = f"{where}, sample {number}"
                time, depth, event, pressure, temperature = sample
                self.assertEqual(time, got[0], at)
                self.assertEqual(as_float(depth), as_float(got[1]), at)
                self.assertEqual(event, got[2], at)
                self.assertEqual(None if pressure is None else as_float(pressure),
                                 None if got[3] is None else as_float(got[3]), at)
                self.assertEqual(as_float(temperature), as_float(got[4]), at)


# libdivecomputer's transport bits (dc_transport_t).
USB, USBHID = 0x02, 0x04


class WineUsbTest(unittest.TestCase):
    """USB and USB HID, when libdivecomputer was built with libusb and hidapi (their DLLs lie
    beside it); under wine no USB device can be attached."""

    def setUp(self):
        folder = os.path.dirname(PROGRAM)
        self.built = os.path.exists(os.path.join(folder, "libusb-1.0.dll"))

    def test_libdivecomputer_has_usb_and_usb_hid_exactly_when_built_with_them(self):
        transports = run("--transports")["transports"]
        self.assertEqual(self.built, bool(transports & USB), transports)
        self.assertEqual(self.built, bool(transports & USBHID), transports)

    def test_a_usb_hid_model_with_no_device_plugged_in_fails_to_open(self):
        if not self.built:
            self.skipTest("libdivecomputer without hidapi")
        answer = run("", "Suunto", "EON Steel")
        self.assertEqual("Error opening device.", answer.get("message"), answer)
        self.assertIn("status", answer)


# After the downloads (unittest runs the classes by name): a port in wine's registry is probed by
# every new wineserver, which would disturb a download.
class WineScanTest(unittest.TestCase):
    def test_scan_lists_the_port(self):
        with Vyper(registered=True):
            self.assertIn(PORT, run("--ports")["ports"])


if __name__ == "__main__":
    subprocess.run(["cc", "-shared", "-fPIC", "-o", SHIM, SHIM_SOURCE, "-ldl"], check=True)
    unittest.main(argv=sys.argv[:1] + sys.argv[6:], verbosity=2)
