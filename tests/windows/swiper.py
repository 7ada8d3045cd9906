#!/usr/bin/env python3
"""Swipes the cards the station asks for, through the emulator's control socket.

A write gets the next blank card; a read gets the card given by --read-card
(card 1: the first card written). Runs until the socket closes or it is
terminated.
"""
import argparse
import socket
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--control", required=True, help="the emulator's control socket")
    parser.add_argument("--read-card", type=int, default=1)
    args = parser.parse_args()

    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(args.control)
        replies = s.makefile("r", encoding="utf-8")

        def ask(command):
            s.sendall((command + "\n").encode())
            line = replies.readline()
            if not line:
                raise SystemExit(0)
            return line.strip()

        while True:
            state = ask("state")
            if state.startswith("ok write"):
                ask("swipe")
            elif state.startswith("ok read"):
                ask("swipe %d" % args.read_card)
            # Polled, as an operator glances at the lamp: the station arms the
            # next card within a fraction of a second.
            time.sleep(0.05)


if __name__ == "__main__":
    main()
