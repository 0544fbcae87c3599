#!/usr/bin/python3
"""history.py HISTORY.tsv OUT.png: instructions per node of each pass against the commits
(bench/history.sh's table), one panel per depth, the commits labelled by short hash."""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])][1:]
if not rows:
    sys.exit("history: no commit of the range could be counted, no picture")
commits = list(dict.fromkeys(r[0] for r in rows))
depths = sorted({int(r[3]) for r in rows})
series = {}
for c, _, n, depth, name, per, value in rows:
    if per == "node" and not name.endswith(":opengl"):
        series.setdefault((int(depth), n, name), {})[c] = float(value)
fig, axes = plt.subplots(1, len(depths), figsize=(7 * len(depths), 5), squeeze=False)
for ax, depth in zip(axes[0], depths):
    for (d, n, name), values in sorted(series.items()):
        if d != depth:
            continue
        xs = [i for i, c in enumerate(commits) if c in values]
        ax.plot(xs, [values[commits[i]] for i in xs], marker="o", label=f"{name} (n={n})")
    ax.set_yscale("log")
    ax.set_xticks(range(len(commits)))
    ax.set_xticklabels(commits, rotation=60, fontsize=8)
    ax.set_title(f"depth {depth}")
    ax.set_ylabel("instructions per node and frame")
    ax.grid(True, which="both", alpha=0.3)
axes[0][-1].legend(fontsize=7)
fig.tight_layout()
fig.savefig(sys.argv[2], dpi=100)
