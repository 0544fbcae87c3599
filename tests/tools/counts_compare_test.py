#!/usr/bin/python3
"""The counts gate's comparison (bench/counts.py compare) on edited copies of a table: a pass
made 5 % dearer or cheaper fails naming it, 1.5 % passes, the library's rows are not gated, and
a zero, a missing row, a table that does not parse or another valgrind or renderer fail.

Usage: counts_compare_test.py COUNTS_PY BASELINE
"""
import pathlib
import subprocess
import sys
import tempfile

counts, baseline = sys.argv[1], sys.argv[2]
lines = pathlib.Path(baseline).read_text().splitlines()
head = [l for l in lines if l.startswith("#")]
columns = next(l for l in lines if not l.startswith("#"))
rows = [l.split("\t") for l in lines[len(head) + 1:]]
PASS = "VNode_advance"


def scaled(name, factor):
    """The table with the instructions of the first row of pass name times factor."""
    i = next(i for i, r in enumerate(rows) if r[2] == name)
    row = rows[i][:4] + [f"{float(rows[i][4]) * factor:.2f}"] + rows[i][5:]
    return head + [columns] + ["\t".join(r) for r in rows[:i] + [row] + rows[i + 1:]]


cases = [
    # (what, baseline lines, now lines, passes, words the output must hold)
    ("the same table", lines, lines, True, ["within"]),
    ("1.5 % dearer", lines, scaled(PASS, 1.015), True, []),
    ("5 % dearer", lines, scaled(PASS, 1.05), False, ["DEARER", PASS, "ratio 1.05"]),
    ("5 % cheaper", lines, scaled(PASS, 0.95), False, ["CHEAPER", PASS, "--write-baseline"]),
    ("library 50 % dearer", lines, scaled("VNode_plot:opengl", 1.5), True, ["not gated"]),
    ("a zero", lines, scaled(PASS, 0), False, [PASS, "zero or missing"]),
    ("a row missing", lines, [l for l in lines if f"\t{PASS}\t" not in l], False,
     [PASS, "missing from this run"]),
    ("a baseline that does not parse", lines[:len(head)] + ["n\tpass"], lines, False,
     ["does not parse", "--write-baseline"]),
    ("a number that is not one", [l.replace(f"\t{PASS}\tnode\t", f"\t{PASS}\tnode\tx")
                                  for l in lines], lines, False, ["does not parse"]),
    ("another valgrind", [l.replace("# valgrind: ", "# valgrind: old-") for l in lines], lines,
     False, ["valgrind", "retake"]),
    ("another renderer", [l.replace("# renderer: ", "# renderer: old-") for l in lines], lines,
     False, ["renderer", "renderer.sh install"]),
]

failed = 0
with tempfile.TemporaryDirectory() as work:
    for what, base, now, passes, words in cases:
        paths = [pathlib.Path(work, name) for name in ("base.tsv", "now.tsv")]
        for path, text in zip(paths, (base, now)):
            path.write_text("\n".join(text) + "\n")
        p = subprocess.run([sys.executable, counts, "compare"] + paths, capture_output=True,
                           text=True)
        output = p.stdout + p.stderr
        missing = [w for w in words if w not in output]
        if (p.returncode == 0) != passes or missing:
            failed += 1
            print(f"FAIL {what}: status {p.returncode}, missing {missing}\n{output}")
sys.exit(1 if failed else 0)
