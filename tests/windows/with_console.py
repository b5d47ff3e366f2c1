#!/usr/bin/python3
"""Runs a program with a pseudo-terminal as its standard input, as from a command prompt: under
wine the program then has a console, whose Ctrl-C it can send itself (console_ctrl_c.h).

    with_console.py WINE PROGRAM [ARGUMENT...]
"""

import os
import pty
import subprocess
import sys

master, slave = pty.openpty()
try:
    result = subprocess.run(sys.argv[1:], stdin=slave, timeout=600, check=False)
finally:
    os.close(slave)
    os.close(master)
sys.exit(result.returncode)
