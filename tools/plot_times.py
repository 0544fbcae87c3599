#!/usr/bin/python3
"""Draws a "times.log" of Zibu's diagnostics (key K) as a picture: the time of each profiler
section per frame, stacked, and on top the rest of the frame (the swap, the input) up to the
whole frame's time.

Usage: tools/plot_times.py times.log [out.png]     (out.png defaults to times.png beside the log)

Each line of the log is one frame: the raw frame time in seconds, which is the whole previous
frame, then the duration of each section of this frame, in the order the game opened them. So
the whole of frame k is the raw time of line k + 1 (the last frame has no rest). The file has no
header, so the names come from the game's own order below. A line with another number of
sections gets the names in that order as far as they go and "section N" beyond; lines that are
not numbers are skipped. Needs Debian's python3-matplotlib.
"""
import os
import sys

# The sections of one frame, in the order the main loop opens them; the collision pass opens
# its own four after "VNode_collide:new".
SECTIONS = [
    "VNode_resetcounters et al.",
    "VNode_rememberrefframes",
    "VNode_advance",
    "VNode_collide:new",
    "VNode_collide:bounds",
    "VNode_collide_add",
    "VNode_collide_detect",
    "VNode_collide:free",
    "VNode_plot",
    "diags",
]
# The same frame from a collision pass that opens no sections of its own.
MAIN_SECTIONS = [s for s in SECTIONS if not s.startswith("VNode_collide") or s.endswith(":new")]


def section_names(count):
    if count == len(MAIN_SECTIONS):
        return MAIN_SECTIONS
    return SECTIONS[:count] + ["section %d" % (i + 1) for i in range(len(SECTIONS), count)]


def read_frames(path):
    """Returns the frames as (raw frame time, {section name: seconds}) and the lines skipped."""
    frames, skipped = [], 0
    with open(path, encoding="ascii", errors="replace") as log:
        for line in log:
            try:
                values = [float(v) for v in line.split()]
            except ValueError:
                values = []
            if not values:
                skipped += 1
                continue
            frames.append((values[0], dict(zip(section_names(len(values) - 1), values[1:]))))
    return frames, skipped


def plot(frames, title, out):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import MaxNLocator

    seen = {name for _, sections in frames for name in sections}
    names = [n for n in SECTIONS if n in seen] + sorted(seen - set(SECTIONS),
                                                        key=lambda n: int(n.split()[1]))
    ms = [[1000 * sections.get(n, 0.0) for _, sections in frames] for n in names]
    # Frame k lasts as long as the raw time of line k + 1 says.
    rest = [max(0.0, 1000 * (frames[k + 1][0] - sum(frames[k][1].values())))
            for k in range(len(frames) - 1)] + [0.0]
    palette = plt.get_cmap("tab20").colors
    colours = [palette[i % len(palette)] for i in range(len(names))] + ["#d0d0d0"]
    fig, ax = plt.subplots(figsize=(12, 6), dpi=100)
    ax.stackplot(range(len(frames)), ms + [rest], colors=colours, step="mid",
                 labels=names + ["rest of the frame (swap, input)"])
    ax.set_xlabel("frame")
    ax.set_ylabel("milliseconds")
    ax.set_title(title)
    ax.set_xlim(0, max(len(frames) - 1, 1))
    ax.xaxis.set_major_locator(MaxNLocator(integer=True))
    ax.set_ylim(bottom=0)
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize="small")
    fig.tight_layout()
    fig.savefig(out)


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    log = argv[1]
    out = argv[2] if len(argv) == 3 else os.path.join(os.path.dirname(log), "times.png")
    try:
        frames, skipped = read_frames(log)
    except OSError as e:
        sys.stderr.write("cannot read %s: %s\n" % (log, e.strerror))
        return 1
    if skipped:
        sys.stderr.write("%s: skipped %d line(s) that are not numbers\n" % (log, skipped))
    if not frames:
        sys.stderr.write("%s holds no frames\n" % log)
        return 1
    try:
        plot(frames, "%s: %d frames" % (os.path.basename(log), len(frames)), out)
    except ImportError:
        sys.stderr.write("needs matplotlib: apt-get install python3-matplotlib\n")
        return 1
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
