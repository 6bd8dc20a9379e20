#!/usr/bin/python3
"""The psutil peer: the readings of `sample` or `inspect` for the given process IDs, the way a
Python user would take them today, printed as one line of JSON.

    psutil_peer.py sample|inspect PID...
"""
import json
import sys

import psutil


def sample(pid):
    process = psutil.Process(pid)
    with process.oneshot():
        times = process.cpu_times()
        memory = process.memory_info()
    return {"pid": pid, "status": "found", "cpuUserMs": times.user * 1000.0,
            "cpuSystemMs": times.system * 1000.0, "rssBytes": memory.rss}


def inspect(pid):
    process = psutil.Process(pid)
    with process.oneshot():
        return {"pid": pid, "status": "found", "createdAt": process.create_time(),
                "executablePath": process.exe(), "commandLine": " ".join(process.cmdline())}


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("sample", "inspect"):
        sys.stderr.write("usage: psutil_peer.py <inspect|sample> <pid> [pid...]\n")
        return 1
    read = sample if sys.argv[1] == "sample" else inspect
    rows = []
    for pid in dict.fromkeys(int(text) for text in sys.argv[2:]):
        try:
            rows.append(read(pid))
        except psutil.NoSuchProcess:
            rows.append({"pid": pid, "status": "not_found"})
        except psutil.Error as error:
            rows.append({"pid": pid, "status": "error", "code": type(error).__name__})
    key = "samples" if sys.argv[1] == "sample" else "processes"
    sys.stdout.write(json.dumps({key: rows}, separators=(",", ":")) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
