#!/usr/bin/env python3
"""The report and the export at scale: writes a production log of N attempts
(3 stations of 8 sockets, one module in ten written again), then times
`modsetup report` over it in each of its forms and prints the wall time and
the peak memory of each run.

    bench/report_scale.py BIN_DIR [N=1000000]
"""
import os
import subprocess
import sys
import tempfile
import time

HEADER = ("time,station,port,kind,serial,version,ch0,ch1,ch2,ch3,operation,result,"
          "message,duration_ms,tool_version,socket,attempt_id,station_id,operator,device,"
          "failed_step,rb0,rb1,rb2,rb3,recorded_offline,corrects\n")


def write_log(path, n):
    reasons = ["Discrepancy!!", "Not Response!!", "did not answer in time"]
    with open(path, "w") as out:
        out.write(HEADER)
        serial = 0x10000
        for i in range(n):
            again = i % 10 == 9
            if not again:
                serial += 1
            station = i % 3
            socket = 1 + (i // 3) % 8
            fail = i % 7 == 0
            ms = 1796000000000 + i * 600  # a shift of 24 sockets, one attempt in 0.6 s
            t = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(ms // 1000))
            out.write(
                f"{t}.{ms % 1000:03d}+00:00,line {station + 1},COM{socket},rx,{serial:08X},R1.05,"
                f"434.700,434.600,433.920,434.075,write,{'fail' if fail else 'pass'},"
                f"{reasons[i % 3] if fail else ''},4236,1.6.0,{socket},"
                f"{i:08x}-0000-4000-8000-000000000000,ST{station},op,/dev/ttyUSB{socket},"
                f"{'check' if fail else ''},,,,,0,\n")


def run(command):
    """Wall and CPU seconds and the peak memory (MB) of that one process."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(command)}: exit {os.waitstatus_to_exitcode(status)}")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    modsetup = os.path.join(sys.argv[1], "modsetup")
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "log.csv")
        write_log(log, n)
        size = os.path.getsize(log) / 1e6
        print(f"log of {n} attempts, {size:.0f} MB")
        for form, extra in (("text", []), ("json", ["--json"]),
                            ("html", ["--html", os.path.join(folder, "r.html")])):
            seconds, cpu, peak = run([modsetup, "report", "--log", log] + extra)
            print(f"report {form:5s} {seconds:6.2f} s ({cpu:.2f} s CPU)   peak memory {peak:6.1f} MB")


if __name__ == "__main__":
    main()
