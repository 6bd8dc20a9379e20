#!/usr/bin/python3
"""Turns the benchmark's raw results into the one table that scripts/bench prints.

    report.py RESULTS_DIR

RESULTS_DIR holds hyperfine's JSON exports (every command named "group|command|N"; the runs of
one name are pooled over all files, so several rounds give one median) and memory.tsv
("group|command|N<TAB>max RSS in KiB", one line per run).
"""
import glob
import json
import os
import statistics
import sys

TARGETS = {
    # group: (ratio limit, the N at which it is judged)
    "sample": (1.15, (1, 1000)),
    "inspect": (1.30, (1, 1000)),
}
DIAGNOSTICS_LIMIT = 1.5
MEMORY_LIMIT_MIB = 4.0
WINE_LIMIT = 1.2


def load_times(folder):
    """Wall times of every run, and processor time (user + system) as [total, runs]."""
    times = {}
    cpu = {}
    for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
        with open(path) as f:
            for result in json.load(f)["results"]:
                runs = len(result["times"])
                times.setdefault(result["command"], []).extend(result["times"])
                pooled = cpu.setdefault(result["command"], [0.0, 0])
                pooled[0] += (result["user"] + result["system"]) * runs
                pooled[1] += runs
    return times, cpu


def cpu_ms(cpu, name):
    pooled = cpu.get(name)
    return pooled[0] / pooled[1] * 1000.0 if pooled and pooled[1] else None


def load_memory(folder):
    memory = {}
    path = os.path.join(folder, "memory.tsv")
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                name, kib = line.rstrip("\n").split("\t")
                memory.setdefault(name, []).append(int(kib))
    return memory


def median_ms(times, name):
    runs = times.get(name)
    return statistics.median(runs) * 1000.0 if runs else None


def decile_ms(times, name):
    runs = sorted(times.get(name, []))
    return runs[len(runs) // 10] * 1000.0 if runs else None


def ms_text(value):
    if value is None:
        return "–"
    return f"{value:.2f}" if value < 10 else f"{value:.1f}"


def ratio_text(ratio):
    return "–" if ratio is None else f"{ratio:.2f}×"


def verdict(ratio, limit):
    if ratio is None:
        return "not measured"
    return "holds" if ratio <= limit else "MISSED"


def ratio(top, bottom):
    return top / bottom if top is not None and bottom else None


def main():
    folder = sys.argv[1]
    times, cpu = load_times(folder)
    memory = load_memory(folder)
    ns = sorted({int(name.rsplit("|", 1)[1]) for name in times
                 if name.split("|")[0] in TARGETS})
    verdicts = []

    print("Wall time: median in ms over all runs (hyperfine, warm caches); ratio = zul-process / floor;")
    print("the processor-time ratio compares mean user + system time")
    print()
    print("| command | " + " | ".join(f"N = {n}" for n in ns) + " |")
    print("|---|" + "---:|" * len(ns))
    for group in ("sample", "inspect"):
        commands = sorted({name.split("|")[1] for name in times if name.split("|")[0] == group},
                          key=lambda c: ("floor", "zul-process", "ps", "psutil").index(c)
                          if c in ("floor", "zul-process", "ps", "psutil") else 9)
        if not commands:
            continue
        for command in commands:
            cells = [ms_text(median_ms(times, f"{group}|{command}|{n}")) for n in ns]
            print(f"| {group}: {command} | " + " | ".join(cells) + " |")
        ratios = {n: ratio(median_ms(times, f"{group}|zul-process|{n}"),
                           median_ms(times, f"{group}|floor|{n}")) for n in ns}
        print(f"| {group}: zul-process / floor | "
              + " | ".join(ratio_text(ratios[n]) for n in ns) + " |")
        # Processor time moves far less than wall time when other work shares the machine.
        cpu_ratios = {n: ratio(cpu_ms(cpu, f"{group}|zul-process|{n}"),
                               cpu_ms(cpu, f"{group}|floor|{n}")) for n in ns}
        print(f"| {group}: zul-process / floor, processor time | "
              + " | ".join(ratio_text(cpu_ratios[n]) for n in ns) + " |")
        limit, judged_at = TARGETS[group]
        for n in judged_at:
            if n in ratios:
                verdicts.append((f"{group} ≤ {limit}× floor at N = {n}",
                                 f"{ratio_text(ratios[n])} (processor time "
                                 f"{ratio_text(cpu_ratios[n])})",
                                 verdict(ratios[n], limit)))

    if memory:
        print()
        print("Peak memory (maximum resident set, /usr/bin/time), median of the runs")
        print()
        print("| command | N | MiB |")
        print("|---|---:|---:|")
        order = ("sample", "inspect", "floor", "zul-process", "ps", "psutil")
        for name in sorted(memory, key=lambda name: [order.index(part) if part in order else 9
                                                     for part in name.split("|")[:2]]):
            group, command, n = name.split("|")
            mib = statistics.median(memory[name]) / 1024.0
            print(f"| {group}: {command} | {n} | {mib:.2f} |")
            if command == "zul-process":
                verdicts.append((f"{group} peak memory < {MEMORY_LIMIT_MIB:g} MiB at N = {n}",
                                 f"{mib:.2f} MiB",
                                 "holds" if mib < MEMORY_LIMIT_MIB else "MISSED"))

    diagnostics = sorted({name.split("|")[0] for name in times
                          if name.startswith("diagnostics ")})
    if diagnostics:
        print()
        print("Diagnostics on vs off (ZUL_DIAGNOSTICS_ENABLED=1 vs 0), median in ms")
        print()
        print("| command | N | off | on | on / off | on / off, processor time |")
        print("|---|---:|---:|---:|---:|---:|")
        for group in diagnostics:
            for n in sorted({int(name.rsplit("|", 1)[1]) for name in times
                             if name.startswith(group + "|")}):
                off = median_ms(times, f"{group}|off|{n}")
                on = median_ms(times, f"{group}|on|{n}")
                word = group.split(" ", 1)[1]
                cpu_ratio = ratio(cpu_ms(cpu, f"{group}|on|{n}"), cpu_ms(cpu, f"{group}|off|{n}"))
                print(f"| {word} | {n} | {ms_text(off)} | {ms_text(on)} | "
                      f"{ratio_text(ratio(on, off))} | {ratio_text(cpu_ratio)} |")
                verdicts.append((f"{word} with diagnostics ≤ {DIAGNOSTICS_LIMIT}× off at N = {n}",
                                 f"{ratio_text(ratio(on, off))} (processor time "
                                 f"{ratio_text(cpu_ratio)})",
                                 verdict(ratio(on, off), DIAGNOSTICS_LIMIT)))

    wine_ns = sorted({int(name.rsplit("|", 1)[1]) for name in times
                      if name.startswith("wine|zul-process")})
    if wine_ns:
        print()
        # Start-up times under Wine fall into two groups about 20 ms apart, whatever the
        # program, so the tenth percentile (the fast group alone) is shown beside the median.
        print("Windows build under Wine (kept wineserver), in ms; ratio = sample / noop.exe")
        print()
        print("| N | noop.exe median | sample median | ratio | noop.exe 10th pct | sample 10th pct | ratio |")
        print("|---:|---:|---:|---:|---:|---:|---:|")
        for n in wine_ns:
            noop = median_ms(times, f"wine|noop|{n}")
            tool = median_ms(times, f"wine|zul-process sample|{n}")
            noop_fast = decile_ms(times, f"wine|noop|{n}")
            tool_fast = decile_ms(times, f"wine|zul-process sample|{n}")
            print(f"| {n} | {ms_text(noop)} | {ms_text(tool)} | {ratio_text(ratio(tool, noop))} "
                  f"| {ms_text(noop_fast)} | {ms_text(tool_fast)} "
                  f"| {ratio_text(ratio(tool_fast, noop_fast))} |")
            # Judged on the fast group: which group a start falls in drifts over minutes for
            # any program, so the medians' ratio measures that drift more than the tool.
            verdicts.append((f"Wine sample ≤ {WINE_LIMIT}× noop.exe at N = {n} (10th percentile)",
                             f"{ratio_text(ratio(tool_fast, noop_fast))} (median "
                             f"{ratio_text(ratio(tool, noop))})",
                             verdict(ratio(tool_fast, noop_fast), WINE_LIMIT)))

    if verdicts:
        print()
        print("| target | measured | verdict |")
        print("|---|---:|---|")
        for target, measured, word in verdicts:
            print(f"| {target} | {measured} | {word} |")


if __name__ == "__main__":
    main()
