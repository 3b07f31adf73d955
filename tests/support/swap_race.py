#!/usr/bin/env python3
"""Races a program that walks a path: exchanges two paths again and again.

    swap_race.py A B CONTROL [SECONDS]

Every half millisecond, A and B (a folder and a symbolic link to another
account's folder, say) trade places in one atomic step,
renameat2(RENAME_EXCHANGE), as a hostile account on the same machine could do.
It goes on until the file CONTROL/stop appears or SECONDS (60) have passed, and
it always makes an even number of exchanges, so A and B end as they began.

CONTROL/started is written once the first exchange has happened; CONTROL/done
at the end, holding the number of exchanges, or "error ..." when an exchange
failed (then A and B are put back first where that can be done).
"""
import ctypes
import os
import sys
import time

AT_FDCWD = -100
RENAME_EXCHANGE = 2
PAUSE = 0.0005


def write(path, text):
    # Whole or not at all: the test polls for the file and reads it at once.
    with open(path + ".part", "w") as out:
        out.write(text)
    os.replace(path + ".part", path)


def main():
    a, b, control = (os.fsencode(arg) for arg in sys.argv[1:4])
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 60.0
    control = os.fsdecode(control)
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    renameat2 = libc.renameat2
    renameat2.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_uint]

    def exchange():
        if renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) != 0:
            code = ctypes.get_errno()
            raise OSError(code, os.strerror(code))

    count = 0
    deadline = time.monotonic() + seconds
    try:
        while True:
            exchange()
            count += 1
            if count == 1:
                write(os.path.join(control, "started"), "")
            time.sleep(PAUSE)
            exchange()
            count += 1
            if os.path.exists(os.path.join(control, "stop")) or time.monotonic() > deadline:
                break
            time.sleep(PAUSE)
        result = str(count)
    except OSError as error:
        result = "error after %d exchanges: %s" % (count, error)
        for _ in range(100):
            if count % 2 == 0:
                break
            try:
                exchange()
                count += 1
            except OSError:
                time.sleep(0.01)
    write(os.path.join(control, "done"), result)


if __name__ == "__main__":
    main()
