#!/usr/bin/env python3
"""The far end of the line for the Windows backend's tests under Wine.

Opens a pseudo-terminal, makes LINK a symbolic link to its terminal side
(Wine maps a COM port to LINK) and obeys commands the test sends over the
line itself:

  'E' n(2 bytes, big-endian)                 read n bytes and send them back
  'B' count delay(2) gap(2)                  after delay ms send count bytes
                                             0x40.., then (gap > 0) after gap
                                             ms count bytes 0x60..
  'H'                                        hang up: close the pseudo-terminal;
                                             after 0.5 s come back on a fresh one
                                             under the same link

Runs until SIGTERM. Keeps the terminal side open itself, so that the test
closing and opening the port never hangs the line up by accident.
"""
import os
import signal
import sys
import time
import tty


def read_exactly(fd, n):
    data = b""
    while len(data) < n:
        chunk = os.read(fd, n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def open_line(link):
    master, slave = os.openpty()
    tty.setraw(slave)
    tmp = link + ".new"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(os.ttyname(slave), tmp)
    os.replace(tmp, link)
    return master, slave


def main():
    link = sys.argv[1]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    master, slave = open_line(link)
    print("linepeer: %s -> %s" % (link, os.ttyname(slave)), flush=True)
    try:
        while True:
            command = read_exactly(master, 1)
            if command == b"E":
                n = int.from_bytes(read_exactly(master, 2), "big")
                os.write(master, read_exactly(master, n))
            elif command == b"B":
                head = read_exactly(master, 5)
                count, delay, gap = head[0], int.from_bytes(head[1:3], "big"), int.from_bytes(head[3:5], "big")
                time.sleep(delay / 1000)
                os.write(master, bytes(0x40 + i for i in range(count)))
                if gap:
                    time.sleep(gap / 1000)
                    os.write(master, bytes(0x60 + i for i in range(count)))
            elif command == b"H":
                os.close(master)
                os.close(slave)
                time.sleep(0.5)
                master, slave = open_line(link)
                print("linepeer: back on %s" % os.ttyname(slave), flush=True)
            # anything else is noise on the line and is dropped
    finally:
        if os.path.islink(link):
            os.unlink(link)


if __name__ == "__main__":
    main()
