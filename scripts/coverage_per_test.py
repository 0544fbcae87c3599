#!/usr/bin/env python3
"""Runs each test of the coverage build alone and lists the tests that reach no line and no
branch of src/ that the rest of the suite does not reach too (candidates for removal, unless a
test guards a fault the others would let through: coverage sees what runs, not what is checked).

Usage (on a display, from scripts/coverage.sh --per-test): coverage_per_test.py BUILD [REGEX]
Writes BUILD/per-test.json: for every test its status and the lines and branches it reaches."""
import collections, glob, json, os, re, subprocess, sys

build = sys.argv[1]
only = re.compile(sys.argv[2]) if len(sys.argv) > 2 else None
objects = os.path.join(build, "CMakeFiles/zibu_core.dir/src")
listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                         capture_output=True, text=True, check=True).stdout
names = [t["name"] for t in json.loads(listing)["tests"]
         if not re.search("e2e|soak", t["name"]) and (not only or only.search(t["name"]))]


def reached():
    """The lines and branches of src/ the counters hold, as "file:line[:branch]"."""
    lines, branches = set(), set()
    for folder in glob.glob(objects + "/*"):
        counted = [os.path.basename(g) for g in glob.glob(folder + "/*.gcda")]
        if not counted:
            continue
        out = subprocess.run(["gcov", "-j", "-t", "-b"] + counted, cwd=folder,
                             capture_output=True, text=True).stdout
        for record in (json.loads(r) for r in out.splitlines() if r.startswith("{")):
            for f in record["files"]:
                name = f["file"][f["file"].find("src/"):]
                if not name.startswith("src/") or "font_builtin" in name:
                    continue
                for line in f["lines"]:
                    at = f"{name}:{line['line_number']}"
                    if line["count"]:
                        lines.add(at)
                    branches.update(f"{at}:{i}" for i, b in enumerate(line.get("branches", [])) if b["count"])
    return lines, branches


result = {}
for name in names:
    for counters in glob.glob(objects + "/*/*.gcda"):
        os.remove(counters)
    run = subprocess.run(["ctest", "--test-dir", build, "-FS", "pinned_renderer",
                          "-R", "^" + re.escape(name) + "$"], capture_output=True, text=True)
    lines, branches = reached()
    result[name] = {"passed": run.returncode == 0, "lines": sorted(lines), "branches": sorted(branches)}
    print(f"{name}: {'passed' if run.returncode == 0 else 'FAILED'}, {len(lines)} lines, "
          f"{len(branches)} branches", flush=True)
with open(os.path.join(build, "per-test.json"), "w") as out:
    json.dump(result, out)

times = collections.Counter(k for r in result.values() for k in r["lines"] + r["branches"])
print("\nTests that reach nothing the other tests run here do not (each taken alone: two may share what"
      " only they reach):")
for name, r in result.items():
    if all(times[k] > 1 for k in r["lines"] + r["branches"]):
        print("  " + name)
