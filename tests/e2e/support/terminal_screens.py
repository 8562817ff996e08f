#!/usr/bin/python3
"""Plays what modsetup station wrote to its terminal into a terminal emulator
(Debian's python3-pyte) and checks every screen it drew.

usage: terminal_screens.py TRANSCRIPT COLUMNS ROWS SOCKETS OUTDIR

TRANSCRIPT.reads holds the offsets at which each read of the terminal ended,
and "stop" where the program was told to end.
Prints "frames N" (the table's redraws) and one "problem: ..." line per fault;
exits 1 when there is one. The first, a middle and the last screen with the
table, and the screen at the end, go to OUTDIR to be looked at.
"""
import os
import re
import sys

import pyte

SAVE, RESTORE = b"\x1b7", b"\x1b8"
HEADER = re.compile(r"^socket +port ")
TOTALS = re.compile(r"^passed \d+  failed \d+  skipped \d+  passes per hour \(last 15 min\) ")
SOCKET_ROW = re.compile(r"^\d+ +\S")
RESULTS = {"", "pass", "fail", "interrupted", "skipped"}


def columns(header):
    """Where each of the header's words starts."""
    return [(m.group(0), m.start()) for m in re.finditer(r"\S+", header)]


def fields(row, starts):
    out = {}
    for i, (name, at) in enumerate(starts):
        end = starts[i + 1][1] if i + 1 < len(starts) else len(row)
        out[name] = row[at:end].strip()
        if at > 0 and row[at - 1] != " ":
            out["misaligned"] = name
    return out


def main():
    path, width, height, sockets, outdir = sys.argv[1:6]
    width, height, sockets = int(width), int(height), int(sockets)
    data = open(path, "rb").read()
    # Where each read of the terminal ended: the screen is looked at there,
    # as a person would see it, unless a redraw was cut in two.
    # From "stop" on the program was told to end, and its summary scrolls
    # the table away.
    reads = open(path + ".reads").read().split()
    if "stop" in reads:
        reads = reads[:reads.index("stop")]
    ends = [int(x) for x in reads]
    screen = pyte.Screen(width, height)
    stream = pyte.ByteStream(screen)
    problems = []
    shown = []  # screens with the table
    previous = {}  # socket -> serial of its last PASS or FAIL
    summaries = 0
    fed = 0
    looks = 0
    rewrites = 0  # a socket seen writing its next module
    for end in ends:
        stream.feed(data[fed:end])
        fed = end
        if data.count(SAVE, 0, end) > data.count(RESTORE, 0, end):
            continue
        rows = list(screen.display)
        headers = [n for n, r in enumerate(rows) if HEADER.match(r)]
        if not headers and not shown:
            continue  # the table is not there yet
        looks += 1
        if len(headers) != 1:
            problems.append("look %d: %d header lines" % (looks, len(headers)))
            continue
        top = headers[0]
        shown.append(rows)
        starts = columns(rows[top])
        if not TOTALS.match(rows[-1]):
            problems.append("look %d: the last row is not the totals: %r" % (looks, rows[-1]))
        for r in rows[:top]:
            if HEADER.match(r) or TOTALS.match(r) or re.match(r"^\d+ +(COM|\.\.\.|usb)", r):
                problems.append("look %d: a table line among the messages: %r" % (looks, r))
        number = 0
        summed = False
        for r in rows[top + 1:-1]:
            if r.startswith("sockets "):
                summaries += 1
                summed = True
                continue
            number += 1
            f = fields(r, starts)
            where = "look %d socket %d" % (looks, number)
            if f.get("socket") != str(number):
                problems.append("%s: the row reads %r" % (where, r))
                continue
            if "misaligned" in f:
                problems.append("%s: %s column out of line: %r" % (where, f["misaligned"], r))
            if not re.fullmatch(r"(\d{8})?", f.get("serial", "")):
                problems.append("%s: serial column holds %r" % (where, f.get("serial")))
            if f.get("last", "") not in RESULTS:
                problems.append("%s: last column holds %r" % (where, f.get("last")))
            if not re.fullmatch(r"(\d+\.\d s)?", f.get("time", "")):
                problems.append("%s: time column holds %r" % (where, f.get("time")))
            state, serial = f.get("state", ""), f.get("serial", "")
            if state.startswith("PASS") or state.startswith("FAIL"):
                previous[number] = serial
            elif state.startswith("writing") and number in previous:
                rewrites += 1
                if serial == previous[number]:
                    problems.append("%s: %r beside the last module's serial" % (where, state))
        if not summed and number != sockets:
            problems.append("look %d: %d socket rows of %d" % (looks, number, sockets))
    stream.feed(data[fed:])
    # A redraw: lines drawn between saving and restoring the cursor.
    frames = len(re.findall(re.escape(SAVE) + rb"\x1b\[\d+;1H\x1b\[2K", data))
    if not shown:
        problems.append("no screen showed the table")
    elif sockets > height and summaries == 0:
        problems.append("the sockets that do not fit were not summed up")
    os.makedirs(outdir, exist_ok=True)
    name = "%s/modsetup-station-%dx%d" % (outdir, width, height)
    for label, rows in (("first", shown[:1]), ("middle", shown[len(shown) // 2:][:1]),
                        ("last", shown[-1:]), ("end", [screen.display])):
        for rows_ in rows:
            with open("%s-%s.txt" % (name, label), "w") as out:
                out.write("\n".join(rows_) + "\n")
    # What a message on standard error said is still on the last screen,
    # above the table: no redraw wrote over it.
    if shown and not any("Discrepancy!!" in r for r in shown[-1]):
        problems.append("the FAIL message is gone from the last screen")
    if rewrites == 0:
        problems.append("no socket was seen writing its second module")
    print("frames %d" % frames)
    print("looked at %d screens, %d rows writing a next module" % (looks, rewrites))
    for p in problems[:40]:
        print("problem: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
