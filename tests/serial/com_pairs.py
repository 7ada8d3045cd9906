#!/usr/bin/env python3
"""Linked pseudo-terminal pairs for the Windows port tests under Wine.

For each pair it opens two pseudo-terminals and copies bytes between their
master sides in both directions, so that what a program writes to one slave
arrives at the other: one slave is the port under test, the other plays the
device. Both slaves stay open here, so a program closing its port causes no
hang-up. Blocking copies, one thread per direction: a side that nobody reads
fills up and stalls the writer on the other side, as a real line would.

Writes a registry file mapping the COM numbers to the slaves, prints "ready"
and copies until it is terminated.
"""
import argparse
import os
import signal
import sys
import threading
import tty


def copy(src, dst):
    while True:
        try:
            data = os.read(src, 4096)
        except OSError:
            return
        view = memoryview(data)
        while view:
            try:
                n = os.write(dst, view)
            except OSError:
                return
            view = view[n:]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", required=True, help="port:device,... for example 1:11,2:12")
    parser.add_argument("--reg", required=True, help="registry file to write")
    args = parser.parse_args()

    lines = ["Windows Registry Editor Version 5.00", "", "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"]
    keep = []
    for pair in args.pairs.split(","):
        numbers = [int(n) for n in pair.split(":")]
        masters = []
        for number in numbers:
            master, slave = os.openpty()
            tty.setraw(master)
            tty.setraw(slave)
            keep.append(slave)
            masters.append(master)
            lines.append('"COM%d"="%s"' % (number, os.ttyname(slave)))
        for src, dst in ((masters[0], masters[1]), (masters[1], masters[0])):
            threading.Thread(target=copy, args=(src, dst), daemon=True).start()
    with open(args.reg, "w", encoding="utf-8") as f:
        f.write("\r\n".join(lines) + "\r\n")
    print("ready", flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.pause()


if __name__ == "__main__":
    main()
