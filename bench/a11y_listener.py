#!/usr/bin/env python3
"""Listens on the accessibility bus as a screen reader does, for bench_a11y.

Registers for the change events a screen reader reads, so that applications send them,
and counts what arrives. Prints "ready" once registered; on standard input, "reset"
clears the count and "count" prints "N events (by type ...)". Ends at end of input.
"""
import os
import sys
from collections import Counter

import pyatspi
from gi.repository import GLib

EVENTS = (
    "object:text-changed",
    "object:property-change",
    "object:state-changed",
    "object:children-changed",
    "object:visible-data-changed",
)
counts = Counter()
pending = b""


def on_event(event):
    counts[event.type.split(":")[1]] += 1


def on_input(fd, condition):
    # Raw reads: a buffered readline could keep a second command back until more input came.
    global pending
    data = os.read(fd, 4096)
    if not data:
        pyatspi.Registry.stop()
        return False
    pending += data
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        if line.strip() == b"reset":
            counts.clear()
        elif line.strip() == b"count":
            kinds = ", ".join(f"{k} {n}" for k, n in sorted(counts.items()))
            print(f"{sum(counts.values())} events ({kinds or 'none'})", flush=True)
    return True


def main():
    pyatspi.Registry.registerEventListener(on_event, *EVENTS)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()


if __name__ == "__main__":
    main()
