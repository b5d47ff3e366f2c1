#!/usr/bin/python3
"""The emulated Shearwater Perdix 2 of the BLE tests (tests/ble/shearwater_petrel.py) on a TCP
port of 127.0.0.1, for a program under wine whose simulated Windows Bluetooth hands each write of
its link to it (tests/windows/relay_peripheral.h).

    ble_relay.py OPTIONS_JSON

prints "port N" once it listens and serves until its standard input ends. OPTIONS_JSON holds the
emulator's options ("expected", "dives", ...; shearwater_petrel.py). Each TCP connection is one
BLE connection, which the computer starts afresh, one at a time as a computer has them. A write
comes as its size (2 bytes, little-endian) and its bytes; the answer is the number of its
notifications (2 bytes), then each as its size (2 bytes) and bytes.
"""

import json
import os
import socket
import struct
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "ble"))
import shearwater_petrel  # noqa: E402


def exactly(connection, size):
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def serve(connection, computer):
    computer.reconnected()
    with connection:
        while True:
            header = exactly(connection, 2)
            data = None if header is None else exactly(connection, struct.unpack("<H", header)[0])
            if data is None:
                return
            packets = computer.answer(data)
            connection.sendall(struct.pack("<H", len(packets)) + b"".join(
                struct.pack("<H", len(packet)) + packet for packet in packets))


def main():
    computer = shearwater_petrel.Computer(json.loads(sys.argv[1]))
    listener = socket.create_server(("127.0.0.1", 0))

    def accept():
        while True:
            connection, _ = listener.accept()
            serve(connection, computer)

    threading.Thread(target=accept, daemon=True).start()
    print("port", listener.getsockname()[1], flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
