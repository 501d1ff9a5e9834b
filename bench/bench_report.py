#!/usr/bin/env python3
"""Turns one scripts/bench run into its table and the plot's data.

    python3 bench/bench_report.py RESULTS_DIR

Reads the hyperfine exports (tag-*-rN.json, overlap-*-rN.json, pass-rN.json,
build-rN.json, list-rN.json), the cron passes (pass.dat, recorded.txt), the
CPU shares (cpu-*.txt) and Google Benchmark's draldb.json from
RESULTS_DIR; prints the table in Markdown and writes it to table.md, and
writes per_archive.dat (archive bytes, then milliseconds per archive for
velmotag -s, velmotag -q, the sh loop, system(), posix_spawn and vfork) and
pass_plot.dat for the plots.
Every ratio divides a median by the median of a peer timed in the same run.
"""

import json
import statistics
import sys
from pathlib import Path

TAG_COMMANDS = ["velmotag -s", "velmotag -q", "sh loop", "system()", "posix_spawn", "vfork"]


def medians(results, name):
    """Median seconds per command over the rounds NAME-r*.json of one
    hyperfine_set, their runs pooled."""
    times = {}
    for part in sorted(results.glob(f"{name}-r*.json")):
        with open(part) as f:
            for r in json.load(f)["results"]:
                times.setdefault(r["command"], []).extend(r["times"])
    return {command: statistics.median(t) for command, t in times.items()}


def size_text(n):
    if n >= 1 << 20:
        return f"{n / (1 << 20):.0f} MiB"
    return f"{n / 1024:.0f} KiB"


class Table:
    def __init__(self):
        self.rows = []
        self.goals_missed = 0

    def add(self, work, tool, peer, tool_value, peer_value, unit, goal=None, ratio=None):
        """One row; ratio defaults to tool_value / peer_value and is held to
        `goal` (at most) when one is given."""
        if ratio is None:
            ratio = tool_value / peer_value
        if goal is None:
            verdict = ""
        elif ratio <= goal:
            verdict = f"<= {goal:g}: met"
        else:
            verdict = f"<= {goal:g}: **missed**"
            self.goals_missed += 1
        self.rows.append(
            (work, tool, peer, f"{tool_value:.{digits(tool_value)}f} {unit}",
             f"{peer_value:.{digits(peer_value)}f} {unit}", f"{ratio:.3f}", verdict))

    def markdown(self):
        head = ("work", "tool", "peer (same run)", "tool median", "peer median", "ratio", "goal")
        lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)


def digits(value):
    return 2 if value >= 10 else 3


def tag_sets(results, prefix="tag"):
    """(name, count, archive bytes, medians in ms per archive), smallest first."""
    sets = []
    for count_path in results.glob(f"{prefix}-*.count"):
        name = count_path.stem[len(prefix) + 1:]
        count = int(count_path.read_text())
        size = int((results / f"{prefix}-{name}.bytes").read_text())
        per_archive = {k: v * 1000 / count
                       for k, v in medians(results, f"{prefix}-{name}").items()}
        sets.append((name, count, size, per_archive))
    return sorted(sets, key=lambda s: s[2])


def add_tagger_rows(table, sets, where="", last_goal=1.35):
    """The small set's goals hold everywhere; the largest set's -s goal is
    `last_goal`: its kept copy is a full copy on ext4, a clone on XFS."""
    for i, (name, count, size, ms) in enumerate(sets):
        work = f"{count} archives of {size_text(size)}{where}, per archive"
        first, last = i == 0, i == len(sets) - 1
        table.add(work, "velmotag -s", "sh loop", ms["velmotag -s"], ms["sh loop"], "ms",
                  1.00 if first else last_goal if last else None)
        table.add(work, "velmotag -q", "system()", ms["velmotag -q"], ms["system()"], "ms",
                  1.05 if first else None)
        table.add(work, "velmotag -q", "sh loop", ms["velmotag -q"], ms["sh loop"], "ms")
        if first or last:
            table.add(work, "velmotag -s", "posix_spawn", ms["velmotag -s"], ms["posix_spawn"],
                      "ms")
            table.add(work, "vfork (best start)", "sh loop", ms["vfork"], ms["sh loop"], "ms")


def add_overlap_rows(table, results, sets):
    """Two runs at once over one directory against one run over all of it."""
    for name, count, size, _ in sets:
        ms = {k: v * 1000 for k, v in medians(results, f"overlap-{name}").items()}
        if ms:
            work = f"{count} archives of {size_text(size)} in one directory, whole run"
            table.add(work, "two velmotag -s at once", "one velmotag -s",
                      ms["two velmotag -s at once"], ms["one velmotag -s"], "ms", 0.65)
            if "two sh loops at once" in ms:
                table.add(work, "two sh loops at once (no locks)", "one sh loop",
                          ms["two sh loops at once"], ms["one sh loop"], "ms")


def add_cpu_rows(table, results, sets):
    def share(name, who):
        """(own CPU, wall) of the run with the median share."""
        runs = [tuple(map(float, line.split()))
                for line in (results / f"cpu{who}-{name}.txt").read_text().splitlines() if line]
        wall, own, _children = sorted(runs, key=lambda r: r[1] / r[0])[len(runs) // 2]
        return own, wall

    for name, count, size, _ in sets:
        work = f"{count} archives of {size_text(size)}, whole run"
        for mode in ("-s", "-q"):
            table.add(work, f"velmotag {mode}: own CPU", "its wall-clock time",
                      *share(name, mode), "ms", 0.03)
        table.add(work, "vfork peer: own CPU", "its wall-clock time", *share(name, "-vfork"), "ms")
        table.add(work, "sh loop: the shell's CPU", "its wall-clock time", *share(name, "-sh"),
                  "ms")


def add_store_rows(table, results):
    build = medians(results, "build")
    listing = medians(results, "list")
    ms = {k: v * 1000 for k, v in {**build, **listing}.items()}
    table.add("build a store", "dralgen", "cdb -c", ms["dralgen"], ms["cdb -c"], "ms", 1.0)
    table.add("build a store", "dralgen", "cp of the source", ms["dralgen"], ms["cp"], "ms")
    source_mb = int((results / "store-source.bytes").read_text()) / 1e6
    table.add("build a store, source read", "dralgen", "cdb -c", source_mb / ms["dralgen"] * 1e3,
              source_mb / ms["cdb -c"] * 1e3, "MB/s")
    table.add("list its index", "drallist", "cdb -l", ms["drallist"], ms["cdb -l"], "ms", 1.0)
    table.add("list with block details", "drallist (details)", "cdb -d",
              ms["drallist (details)"], ms["cdb -d"], "ms", 1.0)


def add_lookup_rows(table, results):
    with open(results / "draldb.json") as f:
        runs = json.load(f)["benchmarks"]
    # per_entry is in seconds; the median of the repetitions counts.
    ns = {r["run_name"].removesuffix("/real_time"): r["per_entry"] * 1e9
          for r in runs if r.get("aggregate_name") == "median"}
    for name, value in ns.items():
        if not name.startswith("search/"):
            continue
        pattern = name[len("search/"):]
        literal = not any(c in pattern for c in "*?[\\")
        table.add(f"scan for the last entry, pattern {pattern}", "dral_search",
                  "stdio 12 bytes + fnmatch", value, ns["peer/" + pattern], "ns/entry")
        # The goal is in nanoseconds per entry, not a ratio.
        table.add(f"scan for the last entry, pattern {pattern}", "dral_search",
                  "25 ns/entry", value, 25.0, "ns/entry", 1.0 if literal else None)
    last_literal = next(n for n in ns if n.startswith("peer/") and "*" not in n
                        and "?" not in n and "[" not in n)
    table.add("dral_work picking every entry", "dral_work", "peer scan", ns["work"],
              ns[last_literal], "ns/entry")
    table.add("dral_best for the last node of the working list", "dral_best", "peer scan",
              ns["best"], ns[last_literal], "ns/entry")


def add_pass_rows(table, results):
    """The cron pass over tagged archives and 10 new ones, and the record
    of a million archives."""
    s = medians(results, "pass")
    if not s:
        return
    count = int((results / "pass.count").read_text())
    work = f"pass over {count:,} tagged archives + 10 new, whole run"
    with_record = s["velmotag -s pass, with the record"] * 1000
    stat_only = s["find -cnewer (stat only)"] * 1000
    new_alone = s["velmotag -s, the 10 new alone"] * 1000
    table.add(work, "velmotag -s, with the record", "3 x find -cnewer + the 10 new alone",
              with_record, 3 * stat_only + new_alone, "ms", 1.00)
    table.add(work, "velmotag -s, with the record", "velmotag -s, record off", with_record,
              s["velmotag -s pass, record off"] * 1000, "ms", 0.01)
    table.add(work, "velmotag -s, with the record", "find -cnewer (stat only)", with_record,
              stat_only, "ms")
    table.add(work, "velmotag -s, the 10 new alone", "find -cnewer (stat only)", new_alone,
              stat_only, "ms")
    lines = (results / "recorded.txt").read_text().split("\n")
    recorded = {line.split()[0]: line.split()[1:] for line in lines if line.strip()}
    entries = int(recorded["entries"][0]) if "entries" in recorded else 0
    work = f"record of {entries:,} archives"
    peak_kib = max(float(recorded[k][2]) for k in ("hook", "pass"))
    table.add(work, "velmotag -s, largest resident set", "64 MiB", peak_kib / 1024, 64.0, "MiB",
              1.0)
    with open(results / "hook.json") as f:
        hook_ms = statistics.median(json.load(f)["results"][0]["times"]) * 1000
    table.add(work + ", hook run over one", "velmotag -s", "find -cnewer over all", hook_ms,
              float(recorded["find"][0]) * 1000, "ms")
    table.add(work + ", pass over all", "velmotag -s", "find -cnewer (stat only)",
              float(recorded["pass"][0]), float(recorded["find"][0]), "s")


def write_pass_plot(results):
    """pass_plot.dat: archives, then seconds without the record (the first
    pass), with it, and for find -cnewer (medians)."""
    source = results / "pass.dat"
    if not source.exists():
        return
    with open(results / "pass_plot.dat", "w") as f:
        f.write('# archives "without record" "with record" "find -cnewer"\n')
        for line in source.read_text().splitlines():
            left, right = line.split("/")
            count, without, *with_record = left.split()
            peer = [float(x) for x in right.split()]
            f.write(f"{count} {float(without):.4f} "
                    f"{statistics.median(map(float, with_record)):.4f} "
                    f"{statistics.median(peer):.4f}\n")


def main():
    results = Path(sys.argv[1])
    table = Table()
    sets = tag_sets(results)
    add_tagger_rows(table, sets)
    reflink_sets = tag_sets(results, "xfs")
    if reflink_sets:
        add_tagger_rows(table, reflink_sets, " on XFS (reflink)", 1.05)
    add_overlap_rows(table, results, sets)
    add_pass_rows(table, results)
    add_cpu_rows(table, results, [sets[0], sets[-1]])
    add_store_rows(table, results)
    add_lookup_rows(table, results)

    text = (results / "machine.txt").read_text() + "\n" + table.markdown() + "\n"
    (results / "table.md").write_text(text)
    print(text, end="")
    with open(results / "per_archive.dat", "w") as f:
        f.write("# bytes " + " ".join(f'"{c}"' for c in TAG_COMMANDS) + "\n")
        for _, _, size, ms in sets:
            f.write(f"{size} " + " ".join(f"{ms[c]:.4f}" for c in TAG_COMMANDS) + "\n")
    write_pass_plot(results)
    if table.goals_missed:
        print(f"{table.goals_missed} goal(s) missed", file=sys.stderr)


if __name__ == "__main__":
    main()
