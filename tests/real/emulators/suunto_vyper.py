#!/usr/bin/python3
"""An emulated Suunto Vyper on a pseudo-terminal, for downloads through the real libdivecomputer.

    suunto_vyper.py --values FILE [--dives N] [--fault silent|unplug|corrupt]

Prints "port /dev/pts/N" once the terminal is ready, then one line per step of the transfer
("header sent", "dive 1 sent" for the newest dive, ..., "end sent"), and serves until its standard
input closes. FILE receives, as JSON, the values it encodes: the computer's identity and every dive
in its logbook, oldest first, with its profile as a diver reads it (times in s, depths in feet)
and its details as libdivecomputer 0.8 and 0.9 parse them.

The Vyper speaks 2400 8O1 through an interface that the host powers with DTR and switches with RTS:
a command goes out with RTS set, then the host waits, empties its input (dropping an echo some
interfaces make) and clears RTS to hear the answer. A pseudo-terminal has no modem lines, so this
end learns that the host emptied its input from the terminal's packet mode, and answers only then:
an earlier answer would be dropped with the echo.

Commands and answers (each ends with the XOR of its bytes before it):
    05 hi lo n x           read n <= 32 bytes of memory: answer 05 hi lo n <data> x
    08 a5 x / 09 a5 x      the newest dive / the next older one: packets 08|09 n <data> x, n <= 32,
                           the dive's bytes last to first; silence ends the dive; a packet with
                           n = 0 says there is no older dive.

A dive, first byte to last: 0-2 unused, 3 sample interval (s), 4 flags (0x40 gauge mode, low
nibble personal setting), 5 tank pressure at the start (2 bar units), 6 oxygen % (0 for air),
7 unused, 8 temperature at the start (signed, C), 9-13 year (2000 + y below 90, else 1900 + y),
month, day, hour, minute (the five bytes that tell dives apart), from 14 one byte a sample: a depth
change in feet (signed) or an event code, then 0x80, the lowest temperature, an unused byte, the
tank pressure at the end, an unused byte.

Faults: silent answers the identity and then nothing; unplug closes the terminal after the first
packet of the second dive; corrupt spoils the checksum of the second dive's first packet.
"""

import argparse
import fcntl
import json
import os
import select
import struct
import sys
import termios
import tty

PACKET = 32
MEMORY = 0x2000
IDENTITY = 0x24  # model, firmware, serial as four two-digit numbers
MODEL = 10  # the Vyper's model number in libdivecomputer's table
FIRMWARE = 23
SERIAL = (12, 34, 56, 78)
FEET = 0.3048
TANK = (200, 180)  # bar at the start and the end of every dive, stored in 2 bar units

TIOCPKT = 0x5420
TIOCPKT_FLUSHREAD = 1
TIOCPKT_FLUSHWRITE = 2

# Event codes and the libdivecomputer event (parser_sample_event_t) each means.
EVENTS = {
    0x7A: 3,  # ascent too fast
    0x7B: 7,  # violation
    0x7C: 8,  # bookmark
    0x7D: 9,  # surface
    0x7E: 1,  # deco stop
    0x7F: 4,  # ceiling broken
    0x81: 10,  # safety stop
}

# The logbook, oldest dive first: (year, month, day, hour, minute), interval, oxygen byte,
# start and lowest temperature, and the samples as (depth in feet, event codes before it).
LOGBOOK = [
    ((2024, 5, 4, 10, 12), 20, 0, 24, 19,
     [(10, []), (25, []), (41, []), (52, []), (58, []), (57, []), (44, []), (30, []),
      (15, []), (3, [])]),
    ((2024, 5, 6, 14, 3), 30, 32, 26, 18,
     [(20, []), (45, [0x7C]), (80, []), (99, []), (101, []), (96, []), (60, [0x7A]),
      (33, []), (15, [0x81]), (15, []), (2, [])]),
    ((2024, 5, 7, 9, 45), 20, 21, 23, 12,
     [(30, []), (70, []), (118, []), (130, [0x7E]), (131, [0x7F, 0x7B]), (120, []),
      (90, []), (50, [0x7E]), (20, []), (10, [0x7D]), (0, [])]),
]


def xor(data):
    value = 0
    for byte in data:
        value ^= byte
    return value


def encode(dive):
    (year, month, day, hour, minute), interval, oxygen, temperature, lowest, samples = dive
    data = bytearray([0, 0, 0, interval, 0, TANK[0] // 2, oxygen, 0, temperature & 0xFF,
                      year % 100, month, day, hour, minute])
    depth = 0
    for feet, codes in samples:
        data += bytes(codes)
        delta = feet - depth
        assert -120 <= delta <= 120, "a depth change must not look like an event code"
        data.append(delta & 0xFF)
        depth = feet
    data += bytes([0x80, lowest & 0xFF, 0, TANK[1] // 2, 0])
    return bytes(data)


def values(dive, data):
    """What a diver reads of the dive: a profile from the surface to the surface."""
    (year, month, day, hour, minute), interval, oxygen, _, _, samples = dive
    profile = [{"time": 0, "depthFeet": 0, "event": None}]
    for number, (feet, codes) in enumerate(samples, start=1):
        profile.append({"time": number * interval, "depthFeet": feet,
                        "event": EVENTS[codes[0]] if codes else None})
    profile.append({"time": (len(samples) + 1) * interval, "depthFeet": 0, "event": None})
    return {
        "datetime": f"{year:04}-{month:02}-{day:02} {hour:02}:{minute:02}:00",
        "divetime": len(samples) * interval,
        "maxdepthFeet": max(feet for feet, _ in samples),
        "oxygen": oxygen or 21,
        "helium": 0,
        "size": len(data),
        "fingerprint": data[9:14].hex(),
        "samples": profile,
        "details": {release: details(dive, release) for release in ("0.8", "0.9")},
    }


def details(dive, release):
    """The dive's details as the release's Vyper backend parses them, in the layout of
    tests/ble/shearwater_petrel.py (Dive.details): no pressure or temperature per sample, the
    tank's pressures at the start and end only, no salinity, atmospheric pressure, average depth
    or location; 0.8 has no usage."""
    _, interval, oxygen, temperature, lowest, samples = dive
    usage = None if release == "0.8" else "NONE"
    depth, events = [[0, 0.0]], []
    for number, (feet, codes) in enumerate(samples, start=1):
        events += [[number, EVENTS[code], 0, 0, 0] for code in codes]
        depth.append([number, feet * FEET])
    depth.append([len(samples) + 1, 0.0])
    none = []
    return {
        "timezone": None, "diveMode": "OPEN_CIRCUIT", "decoModel": ["RGBM", 0, None, None],
        "water": None, "density": None, "atmospheric": None, "averageDepth": None,
        "temperatures": [float(temperature), float(lowest), None], "location": None,
        "gasMixes": [[(oxygen or 21) / 100.0, 0.0, usage]],
        "tanks": [[0, "NONE", 0.0, 0.0, float(TANK[0]), float(TANK[1]), usage]],
        "samples": {
            "depth": depth, "temperature": none, "ppo2": none, "setpoint": none, "cns": none,
            "gasmix": [[0, 0]], "deco": none, "pressure": none, "bearing": none,
            "event": events, "times": [number * interval for number in range(len(samples) + 2)],
            "rbt": none, "heartRate": none,
        },
    }


class Computer:
    def __init__(self, dives, fault):
        self.dives = [encode(dive) for dive in dives]
        self.fault = fault
        self.memory = bytearray(MEMORY)
        self.memory[IDENTITY:IDENTITY + 6] = bytes([MODEL, FIRMWARE, *SERIAL])
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        fcntl.ioctl(self.master, TIOCPKT, struct.pack("i", 1))
        self.port = os.ttyname(self.slave)
        self.pending = bytearray()
        self.emptied = False  # the host emptied its input since the pending command began
        self.next_dive = 0
        self.silent = False

    def say(self, line):
        print(line, flush=True)

    def send(self, data):
        os.write(self.master, data)

    def answer(self, command):
        if command[0] == 0x05:
            address = (command[1] << 8) | command[2]
            reply = bytes(command[:4]) + bytes(self.memory[address:address + command[3]])
            self.send(reply + bytes([xor(reply)]))
            self.say("header sent")
            if self.fault == "silent":
                self.silent = True
                self.say("silent")
            return True
        if command[0] == 0x08:
            self.next_dive = 0
        if self.next_dive == len(self.dives):
            self.send(bytes([command[0], 0, command[0]]))
            self.say("end sent")
            return True
        data = self.dives[len(self.dives) - 1 - self.next_dive][::-1]
        self.next_dive += 1
        packets = bytearray()
        for start in range(0, len(data), PACKET):
            packet = bytes([command[0], len(data[start:start + PACKET])]) + data[start:start + PACKET]
            check = xor(packet)
            if self.next_dive == 2 and start == 0 and self.fault == "corrupt":
                check ^= 0x5A
            packets += packet + bytes([check])
            if self.next_dive == 2 and self.fault == "unplug":
                self.send(packets)
                self.say("unplugged")
                return False
        # One write: a pause inside a dive would tell the host the dive has ended.
        self.send(packets)
        self.say(f"dive {self.next_dive} sent")
        return True

    def command_length(self):
        if not self.pending:
            return None
        if self.pending[0] == 0x05:
            return 5
        if self.pending[0] in (0x08, 0x09):
            return 3
        return 0  # nothing this computer knows: dropped

    def received(self, chunk):
        """Takes one read from the terminal; False once the terminal has been unplugged."""
        if chunk[0] != 0:
            if chunk[0] & TIOCPKT_FLUSHWRITE:
                # The host opened the port and emptied both directions: a new session.
                self.pending.clear()
                self.emptied = False
            elif chunk[0] & TIOCPKT_FLUSHREAD:
                # The host empties its input once it has sent a command; when the command is
                # still unread here, the notice overtook it.
                available = struct.unpack("i", fcntl.ioctl(self.master, termios.FIONREAD,
                                                           struct.pack("i", 0)))[0]
                self.emptied = bool(self.pending) or available > 0
        else:
            self.pending += chunk[1:]
        while True:
            length = self.command_length()
            if length == 0:
                del self.pending[0]
                continue
            if length is None or len(self.pending) < length or not self.emptied:
                return True
            command = bytes(self.pending[:length])
            del self.pending[:length]
            self.emptied = False
            if xor(command[:-1]) != command[-1] or self.silent:
                continue
            if not self.answer(command):
                return False

    def serve(self):
        self.say(f"port {self.port}")
        while True:
            ready, _, _ = select.select([self.master, sys.stdin], [], [])
            if sys.stdin in ready and not sys.stdin.buffer.read1(1):
                return
            if self.master in ready and not self.received(os.read(self.master, 4096)):
                # The host's end hangs up once both are closed, as a USB serial cable pulled out.
                os.close(self.slave)
                os.close(self.master)
                sys.stdin.buffer.read()
                return


def main():
    arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    arguments.add_argument("--values", required=True)
    arguments.add_argument("--dives", type=int, default=len(LOGBOOK))
    arguments.add_argument("--fault", choices=["silent", "unplug", "corrupt"])
    options = arguments.parse_args()
    logbook = LOGBOOK[:options.dives]
    computer = Computer(logbook, options.fault)
    encoded = {
        "vendor": "Suunto",
        "product": "Vyper",
        "model": MODEL,
        "firmware": FIRMWARE,
        "serial": int("".join(f"{part:02}" for part in SERIAL)),
        "dives": [values(dive, data) for dive, data in zip(logbook, computer.dives)],
    }
    with open(options.values, "w", encoding="utf-8") as file:
        json.dump(encoded, file, indent=1)
    computer.serve()


if __name__ == "__main__":
    main()
