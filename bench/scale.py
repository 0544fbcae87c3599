#!/usr/bin/python3
"""The scaling report: how each pass of the tree grows with the tree.

scale.py REPLAY BENCH FRAMES OUT.png
plays stress scenes of N = 1,000, 10,000 and 100,000 asteroids at depth 1 and 4 with the
scripted-run driver REPLAY (and each also with N = 1, for the memory), with the diagnostics on
and the real clock, WARM_UP frames and then FRAMES measured ones each, and prints one
tab-separated table: n, depth, pass (the profiler's section names as the trace gives them,
then "total", the whole frame, drawing and swap included, and "bytes"), ms_per_frame (the
median over the measured frames) and us_per_node (per asteroid; for "bytes" the growth of the
process's peak memory over the scene with N = 1, divided by N, in the ms_per_frame column).
OUT.png shows, per depth, each pass's time per frame against N on log-log axes, with the
collision benchmark's Bullet broadphase (BENCH, zibu_bench; left out when it is "-") at the
same N as a reference line.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile

COUNTS = (1000, 10000, 100000)
DEPTHS = (1, 4)
WARM_UP = 3


def play(replay, n, depth, frames, folder):
    """Runs one scene in folder; returns its peak resident memory in bytes."""
    os.makedirs(folder)
    script = os.path.join(folder, "scene.txt")
    with open(script, "w") as f:
        f.write(f"0 stress {n} {depth}\n0 clock real\n1 down k\n2 up k\n{1 + WARM_UP + frames} quit\n")
    with open(os.path.join(folder, "stderr.txt"), "w") as err:
        p = subprocess.Popen([replay, script, "."], cwd=folder, stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        with open(os.path.join(folder, "stderr.txt")) as err:
            sys.exit(f"{replay} failed on stress {n} {depth}:\n{err.read()}")
    return usage.ru_maxrss * 1024


def measured(folder):
    """(section name -> durations in ms, whole frames in ms) of the frames after the warm-up."""
    with open(os.path.join(folder, "trace.json")) as f:
        events = json.load(f)
    frames = []
    for e in events:
        if e.get("ph") != "X":
            continue
        if e["name"] == "frame":
            frames.append([])
        elif frames:
            frames[-1].append((e["name"], e["dur"] / 1000.0))
    sections = {}
    for frame in frames[WARM_UP:]:
        for name, ms in frame:
            sections.setdefault(name, []).append(ms)
    # A frame's whole length is the raw time of the next line of times.log (seconds).
    with open(os.path.join(folder, "times.log")) as f:
        raw = [float(line.split("\t")[0]) * 1000.0 for line in f if line.strip()]
    return sections, raw[WARM_UP + 1:]


def bullet_reference(bench):
    if bench == "-":
        return {}
    out = subprocess.run([bench, "--benchmark_filter=BM_collide_bullet/slow/",
                          "--benchmark_format=json"], capture_output=True, text=True, check=True)
    times = {}
    for b in json.loads(out.stdout)["benchmarks"]:
        n = int(b["name"].split("/")[2])
        times[n] = b["real_time"]  # milliseconds, the benchmark's unit
    return times


def main():
    replay, bench, frames, png = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    with tempfile.TemporaryDirectory(prefix="zibu-scale.") as work:
        rows = report(replay, frames, work)
    plot(rows, bullet_reference(bench), png)


def report(replay, frames, work):
    rows = []
    print("n\tdepth\tpass\tms_per_frame\tus_per_node")
    for depth in DEPTHS:
        base = play(replay, 1, depth, frames, os.path.join(work, f"1-{depth}"))
        for n in COUNTS:
            folder = os.path.join(work, f"{n}-{depth}")
            peak = play(replay, n, depth, frames, folder)
            sections, whole = measured(folder)
            scene = [(name, statistics.median(ms)) for name, ms in sections.items()]
            scene.append(("total", statistics.median(whole)))
            for name, ms in scene:
                rows.append((n, depth, name, ms))
                print(f"{n}\t{depth}\t{name}\t{ms:.4f}\t{1000.0 * ms / n:.4f}")
            print(f"{n}\t{depth}\tbytes\t{(peak - base) / n:.1f}\t")
            sys.stdout.flush()
    return rows


def plot(rows, bullet, png):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, len(DEPTHS), figsize=(13, 5.5), sharey=True)
    for ax, depth in zip(axes, DEPTHS):
        ax.set_prop_cycle(color=plt.get_cmap("tab20").colors)
        names = list(dict.fromkeys(name for _, d, name, _ in rows if d == depth))
        for name in names:
            points = [(n, ms) for n, d, nm, ms in rows if d == depth and nm == name and ms > 0]
            if points:
                ax.plot(*zip(*points), marker="o", label=name,
                        linewidth=2.5 if name == "total" else 1.2)
        if bullet:
            ns = sorted(bullet)
            ax.plot(ns, [bullet[n] for n in ns], "k--", label="Bullet broadphase (collision benchmark)")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(f"depth {depth}")
        ax.set_xlabel("asteroids (N)")
        ax.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("ms per frame")
    handles, labels = axes[-1].get_legend_handles_labels()
    fig.legend(handles, labels, fontsize=8, loc="center left", bbox_to_anchor=(1.0, 0.5))
    fig.tight_layout()
    fig.savefig(png, dpi=100, bbox_inches="tight")


if __name__ == "__main__":
    main()
