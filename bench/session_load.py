#!/usr/bin/python3
"""Drives `zul-process serve` as a monitor would, for the benchmark's session figures.

    session_load.py cpu OUT SECONDS TOOL FLOOR PID...
    session_load.py memory OUT TOOL REQUESTS PID

cpu: a session asked "sample PID..." (all the PIDs) 4 times a second for SECONDS, beside the
session floor (bench/floor_session.c) asked the same an eighth of a second later each time;
then the one-shot `TOOL sample PID...` run 4 times a second for up to 15 seconds. Every
answer of the session must find every process. Appends to OUT, one line per program:
"name<TAB>seconds<TAB>requests<TAB>processes<TAB>user seconds<TAB>system seconds", the
processor time being the program's own (its rusage when it ended; for the one-shot, the sum
over its runs).

memory: REQUESTS requests to one session, in turns of four kinds: a sample and an inspect of
the live process PID, a sample of an ID nobody has (a new one each time, from pid_max up, over
100,000 of them) and a line the one-shot would refuse. Every answer is checked. Appends
"requests answered<TAB>resident KiB" (VmRSS of /proc/<session>/status) after the first 10,000
and after all of them.
"""
import os
import subprocess
import sys
import threading
import time

RATE = 4  # requests a second
ONE_SHOT_SECONDS = 15
FIRST = 10_000


def rusage_seconds(process):
    """Waits for the process; its own user and system seconds."""
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit(f"session_load: {process.args[0]} ended with status {status}")
    return usage.ru_utime, usage.ru_stime


def sleep_until(moment):
    delay = moment - time.monotonic()
    if delay > 0:
        time.sleep(delay)


def paced(seconds, each):
    """Calls each(k, at) at the moment `at`, k / RATE seconds from now, for k below
    seconds × RATE."""
    start = time.monotonic()
    for k in range(int(seconds * RATE)):
        at = start + k / RATE
        sleep_until(at)
        each(k, at)


def cpu(out, seconds, tool, floor, pids):
    line = ("sample " + " ".join(pids) + "\n").encode()
    session = subprocess.Popen([tool, "serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    floor_session = subprocess.Popen([floor], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(k, at):
        session.stdin.write(line)
        session.stdin.flush()
        answer = session.stdout.readline()
        if answer.count(b'"status":"found"') != len(pids):
            sys.exit(f"session_load: request {k} did not find every process: {answer[:300]!r}")
        # The floor half a turn later, so that the two do not compete for the processor.
        sleep_until(at + 1 / (2 * RATE))
        floor_session.stdin.write(line)
        floor_session.stdin.flush()
        floor_session.stdout.readline()

    paced(seconds, ask)
    requests = int(seconds * RATE)
    rows = []
    for name, process in (("session", session), ("floor", floor_session)):
        process.stdin.close()
        process.stdout.read()
        rows.append((name, seconds, requests, *rusage_seconds(process)))

    one_shot_seconds = min(seconds, ONE_SHOT_SECONDS)
    used = [0.0, 0.0]

    def run_once(_k, _at):
        process = subprocess.Popen([tool, "sample", *pids], stdout=subprocess.DEVNULL)
        user, system = rusage_seconds(process)
        used[0] += user
        used[1] += system

    paced(one_shot_seconds, run_once)
    rows.append(("one-shot", one_shot_seconds, int(one_shot_seconds * RATE), *used))
    with open(out, "a") as f:
        for name, span, count, user, system in rows:
            f.write(f"{name}\t{span}\t{count}\t{len(pids)}\t{user:.6f}\t{system:.6f}\n")


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    sys.exit("session_load: no VmRSS for the session")


def memory(out, tool, requests, pid):
    with open("/proc/sys/kernel/pid_max") as f:
        nobody = int(f.read())

    def request(i):
        kind = i % 4
        if kind == 0:
            return f"sample {pid}\n"
        if kind == 1:
            return f"inspect {pid}\n"
        if kind == 2:
            return f"sample {nobody + (i // 4) % 100_000}\n"
        return "sample x\n"

    def expected(i, answer):
        kind = i % 4
        if kind == 3:
            return answer == '{"error":"process IDs must be positive decimal integers"}\n'
        if kind == 2:
            return '"status":"not_found"' in answer
        return '"status":"found"' in answer

    session = subprocess.Popen([tool, "serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True, bufsize=1 << 20)
    first_answered = threading.Event()

    def write():
        for start, end in ((0, FIRST), (FIRST, requests)):
            if start == FIRST:
                first_answered.wait()
            batch = []
            for i in range(start, end):
                batch.append(request(i))
                if len(batch) == 1000:
                    session.stdin.write("".join(batch))
                    batch = []
            session.stdin.write("".join(batch))
            session.stdin.flush()

    writer = threading.Thread(target=write)
    writer.start()
    rows = []
    for i in range(requests):
        answer = session.stdout.readline()
        if not expected(i, answer):
            sys.exit(f"session_load: answer {i} is not the one expected: {answer[:300]!r}")
        if i + 1 == FIRST or i + 1 == requests:
            rows.append((i + 1, resident_kib(session.pid)))
            if i + 1 == FIRST:
                first_answered.set()
    writer.join()
    session.stdin.close()
    rusage_seconds(session)
    with open(out, "a") as f:
        for answered, kib in rows:
            f.write(f"{answered}\t{kib}\n")


def main():
    if len(sys.argv) >= 7 and sys.argv[1] == "cpu":
        cpu(sys.argv[2], float(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6:])
    elif len(sys.argv) == 6 and sys.argv[1] == "memory":
        memory(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
