#!/usr/bin/python3
"""Instructions per node of each pass of the tree, counted by valgrind's callgrind.

counts.py run REPLAY RENDERER [--sizes N ...] [--depths D ...] [--out TABLE]
    plays stress scenes under callgrind and prints (or writes) the table
counts.py compare BASE NOW
    the gate: NOW's rows against BASE's; exit status 1 with every reason when they differ

The program marks each profiler section with a callgrind dump (src/platform/countmarks.h) for
MEASURED frames after WARM_UP; only the main thread's dumps are read, so the renderer's
rasterising threads stay out. Inside a dump, the code of the libraries the game draws and
windows with (OpenGL, X, SDL, and the code the renderer compiles at run time, which has no
object) goes to a row of its own, ":opengl", together with what that code calls in the C
library; everything else (the program, the C and C++ libraries it calls) is the pass's own.
"""
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

WARM_UP = 3
MEASURED = 3
WINDOW = (64, 36)
PER_FRAME = ("VNode_resetcounters et al.", "VNode_collide:new", "VNode_collide:bounds",
             "VNode_collide:free", "diags", "(rest of frame)")
FRAME = "frame"
LIBRARY = ":opengl"
# The sections whose library work gets a row; the others' is small and lies in the frame's.
LIBRARY_ROWS = ("VNode_plot", FRAME)
TOLERANCE = 0.02
# The passes' work counters of "trace.json" that go into the table, as "work:NAME" per frame.
WORK = ("nodes visited", "things plotted", "sphere tests", "octree cells touched",
        "candidate pairs", "lights scored")
# Objects whose code is the game's own: the program and the runtime it calls.
OWN_OBJECT = re.compile(r"^(zibu_replay|libc\.so|libm\.so|libstdc\+\+\.so|libgcc_s\.so|ld-linux)")
# Pins what would move the counts from machine to machine (the C library's string and maths
# variants and its copy thresholds follow the processor otherwise).
GLIBC_TUNABLES = ("glibc.cpu.hwcaps=-AVX,-AVX2,-AVX_VNNI,-AVX512F,-AVX512VL,-AVX512BW,"
                  "-AVX512DQ,-AVX512CD,-ERMS,-FSRM,-FMA,-FMA4,-BMI1,-BMI2,-LZCNT,-MOVBE,-POPCNT,"
                  "-SSE4_1,-SSE4_2,-SSSE3,-RTM,-XSAVE,-XSAVEC,-F16C,-OSXSAVE,"
                  "-AVX_Fast_Unaligned_Load,-Fast_Unaligned_Load,-Fast_Unaligned_Copy,"
                  "-Fast_Rep_String,-Fast_Copy_Backward,-Prefer_ERMS,-Prefer_FSRM,"
                  "-Prefer_No_VZEROUPPER,-Prefer_PMINUB_for_stringop,-Slow_BSF,-Slow_SSE4_2"
                  ":glibc.cpu.x86_data_cache_size=32768:glibc.cpu.x86_shared_cache_size=1048576"
                  ":glibc.cpu.x86_non_temporal_threshold=786432"
                  ":glibc.cpu.x86_rep_movsb_threshold=2048:glibc.cpu.x86_rep_stosb_threshold=2048")
CACHES = ("--I1=32768,8,64", "--D1=32768,8,64", "--LL=8388608,16,64")
VALGRIND = ("valgrind", "--tool=callgrind", "--separate-threads=yes", "--instr-atstart=no",
            "--combine-dumps=yes", "--compress-strings=no", "--compress-pos=no",
            "--smc-check=all-non-file")
# The cache model, for the misses (information only): the gate goes without, some times faster.
CACHE_SIM = ("--cache-sim=yes",) + CACHES
COLUMNS = ("n", "depth", "pass", "per", "instructions", "d1_misses_model", "ll_misses_model")


def environment(libdir):
    """The whole environment of a counted run: nothing of the caller's but the display."""
    return {
        "PATH": "/usr/bin:/bin", "LC_ALL": "C", "HOME": "/nonexistent",
        "DISPLAY": os.environ.get("DISPLAY", ""), "XAUTHORITY": os.environ.get("XAUTHORITY", ""),
        # The software rasteriser forced as scripts/renderer.sh env forces it, the GL dispatch
        # told to take Mesa's library even where the X server names another vendor's.
        "LD_LIBRARY_PATH": libdir, "LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "llvmpipe",
        "__GLX_VENDOR_LIBRARY_NAME": "mesa",
        "LP_NUM_THREADS": "2", "LP_NATIVE_VECTOR_WIDTH": "128", "MESA_SHADER_CACHE_DISABLE": "true",
        "GLIBC_TUNABLES": GLIBC_TUNABLES,
        "ZIBU_COUNT_FRAMES": f"{WARM_UP} {MEASURED}",
    }


def own(obj, program="zibu_replay"):
    name = os.path.basename(obj)
    return name == program or bool(OWN_OBJECT.match(name))


def parse_dumps(path, program="zibu_replay"):
    """[(section, own costs, library costs)] of the main thread's dumps, costs as
    [instructions, D1 misses, LL data misses]."""
    parts, part = [], None
    index = None
    obj = callee = None
    in_call = False
    with open(path) as f:
        for line in f:
            c = line[0]
            if c.isdigit():
                fields = line.split()
                ir = int(fields[1]) if len(fields) > 1 else 0
                cost = [ir] + [sum(int(fields[1 + i]) for i in ix if 1 + i < len(fields)) for ix in index]
                if in_call:
                    in_call = False
                    if not own(obj, program) and own(callee or obj, program):
                        part[2] = [a + b for a, b in zip(part[2], cost)]
                    callee = None
                else:
                    part[1] = [a + b for a, b in zip(part[1], cost)]
                    if not own(obj, program):
                        part[2] = [a + b for a, b in zip(part[2], cost)]
            elif line.startswith("part:"):
                part = [None, [0, 0, 0], [0, 0, 0], 0]
                parts.append(part)
                obj = callee = None
            elif line.startswith("thread:"):
                part[3] = int(line.split()[1])
            elif line.startswith("desc: Trigger: Client Request: "):
                part[0] = line[len("desc: Trigger: Client Request: "):].rstrip("\n")
            elif line.startswith("events:"):
                names = line.split()[1:]
                pick = lambda *ns: [names.index(n) for n in ns if n in names]
                index = (pick("D1mr", "D1mw"), pick("DLmr", "DLmw"))
            elif line.startswith("ob="):
                obj = line[3:].rstrip("\n")
            elif line.startswith("cob="):
                callee = line[4:].rstrip("\n")
            elif line.startswith("calls="):
                in_call = True
            elif line.startswith("fn="):
                callee = None
    return [(name, own_cost, lib) for name, own_cost, lib, thread in parts
            if thread == 1 and name is not None]


def rows_of(n, depth, dumps):
    """Table rows of one scene: per section (summed over the measured frames and divided by
    them, and by n unless the section is given per frame) and the whole frame, with the library
    rows of the plot and the frame."""
    sums, order = {}, []
    for name, own_cost, lib in dumps:
        if name not in sums:
            sums[name] = ([0, 0, 0], [0, 0, 0])
            order.append(name)
        s = sums[name]
        for i in range(3):
            s[0][i] += own_cost[i] - lib[i]
            s[1][i] += lib[i]
    frame = ([sum(sums[k][0][i] for k in order) for i in range(3)],
             [sum(sums[k][1][i] for k in order) for i in range(3)])
    rows = []
    for name in order + [FRAME]:
        own_cost, lib = frame if name == FRAME else sums[name]
        per = "frame" if name in PER_FRAME else "node"
        div = MEASURED * (1 if per == "frame" else n)
        rows.append((n, depth, name, per) + tuple(v / div for v in own_cost))
        if name in LIBRARY_ROWS:
            rows.append((n, depth, name + LIBRARY, per) + tuple(v / div for v in lib))
    return rows


def scene(n, depth, diagnostics):
    """The script of a counted scene: the light tree on (V), so that the plot chooses lights
    for every thing; with the diagnostics (K) for the work counters of "trace.json"."""
    keys = "0 down v\n0 down k\n1 up v\n1 up k\n" if diagnostics else "0 down v\n1 up v\n"
    return (f"0 size {WINDOW[0]} {WINDOW[1]}\n0 stress {n} {depth}\n{keys}"
            f"{WARM_UP + MEASURED} quit\n")


def work_rows(replay, libdir, folder, n, depth):
    """The work counters of the measured frames, from a run without valgrind (they are the
    same with it): rows "work:NAME" per frame."""
    os.makedirs(folder)
    with open(os.path.join(folder, "s.txt"), "w") as f:
        f.write(scene(n, depth, True))
    env = dict(environment(libdir), ZIBU_COUNT_FRAMES="")
    p = subprocess.run(["./zibu_replay", "s.txt", "."], cwd=folder, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                       executable=replay)
    if p.returncode != 0:
        sys.exit(f"zibu_replay failed on stress {n} {depth}:\n{p.stderr}")
    with open(os.path.join(folder, "trace.json")) as f:
        events = json.load(f)
    frames, sums = 0, {name: 0 for name in WORK}
    for e in events:
        if e.get("name") == "frame" and e.get("ph") == "X":
            frames += 1
        elif e.get("ph") == "C" and e["name"] in sums and WARM_UP < frames <= WARM_UP + MEASURED:
            sums[e["name"]] += e["args"]["value"]
    return [(n, depth, "work:" + name, "frame", sums[name] / MEASURED, 0, 0) for name in WORK]


def play(replay, libdir, folder, n, depth, caches=True):
    """One scene under callgrind in its own folder, and its work counters; its rows."""
    os.makedirs(folder)
    with open(os.path.join(folder, "s.txt"), "w") as f:
        f.write(scene(n, depth, False))
    os.symlink(replay, os.path.join(folder, "zibu_replay"))
    command = (("setarch", "-R") + VALGRIND + (CACHE_SIM if caches else ())
               + ("--callgrind-out-file=cg.out", "./zibu_replay", "s.txt", "o"))
    with open(os.path.join(folder, "valgrind.log"), "w") as log:
        status = subprocess.call(command, cwd=folder, env=environment(libdir), stdout=log,
                                 stderr=subprocess.STDOUT)
    if status != 0:
        with open(os.path.join(folder, "valgrind.log")) as log:
            sys.exit(f"zibu_replay failed under valgrind on stress {n} {depth}:\n{log.read()}")
    # valgrind names the program by its real file, whatever the link in the folder is called.
    dumps = parse_dumps(os.path.join(folder, "cg.out"), os.path.basename(replay))
    if len(dumps) == 0:
        sys.exit(f"stress {n} {depth}: no counted sections (is the program built with "
                 "valgrind's headers, libvalgrind's valgrind/callgrind.h?)")
    rows = rows_of(n, depth, dumps)
    for row in rows:
        if row[4] <= 0 and not row[2].endswith(LIBRARY):
            sys.exit(f"stress {n} {depth}: no instructions counted for {row[2]}")
    return rows + work_rows(replay, libdir, folder + "-work", n, depth)


def versions(replay, renderer):
    def first_line(*command):
        try:
            out = subprocess.run(command, capture_output=True, text=True).stdout
            return out.splitlines()[0].strip() if out else "?"
        except OSError:
            return "?"
    compiler = first_line("c++", "--version")  # unless the build says which it used
    cache = os.path.join(os.path.dirname(replay), "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as f:
            m = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", f.read(), re.M)
        if m:
            compiler = first_line(m.group(1), "--version")
    try:
        with open(os.path.join(renderer, "version")) as f:
            mesa = "Mesa " + f.read().strip()
    except OSError:
        mesa = "?"
    return [("compiler", compiler), ("libc", first_line("ldd", "--version")),
            ("valgrind", first_line("valgrind", "--version")), ("renderer", mesa)]


def header(replay, renderer, caches):
    lines = [f"{k}: {v}" for k, v in versions(replay, renderer)]
    lines += [f"valgrind options: {' '.join(VALGRIND[1:] + (CACHE_SIM if caches else ()))}",
              "run as: setarch -R (no address layout randomisation), env -i with "
              + " ".join(f"{k}={v}" for k, v in environment("LIBDIR").items()
                         if k not in ("DISPLAY", "XAUTHORITY")),
              f"frames: {WARM_UP} warm-up, {MEASURED} counted; window {WINDOW[0]}x{WINDOW[1]}",
              "instructions per node (asteroid) and frame, or per frame where per = frame; "
              "misses are the simulator's model of the caches above, for information",
              ":opengl rows: the libraries' own code on the main thread (information only)"]
    return ["# " + line for line in lines]


def run(args):
    replay = os.path.realpath(args.pop(0))
    renderer = os.path.realpath(args.pop(0))
    sizes, depths, out = [10000], [1, 4], None
    caches = os.environ.get("ZIBU_COUNTS_CACHES", "yes") != "no"
    while args:
        flag = args.pop(0)
        values = []
        while args and not args[0].startswith("--"):
            values.append(args.pop(0))
        if flag == "--sizes":
            sizes = [int(v) for v in values]
        elif flag == "--depths":
            depths = [int(v) for v in values]
        elif flag == "--out":
            out = values[0]
        else:
            sys.exit(f"counts.py: unknown option {flag}")
    # A folder of fixed length and a link to the renderer inside it: the paths the program
    # and the loader see have the same lengths on every machine, and so have its allocations.
    work = tempfile.mkdtemp(prefix="zibu-counts.", dir="/tmp")
    libdir = os.path.join(work, "gl")
    os.symlink(os.path.join(renderer, "usr", "lib", "x86_64-linux-gnu"), libdir)
    scenes = [(n, d) for n in sizes for d in depths]
    jobs = int(os.environ.get("ZIBU_COUNTS_JOBS", min(2, os.cpu_count() or 1)))
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(lambda s: play(replay, libdir, os.path.join(work, f"s{s[0]}-{s[1]}"),
                                                *s, caches), scenes))
    if os.environ.get("ZIBU_COUNTS_KEEP"):
        print(f"counts: the runs' folders are kept in {work}", file=sys.stderr)
    else:
        subprocess.call(["rm", "-rf", work])
    text = "\n".join(header(replay, renderer, caches)
                     + ["\t".join(COLUMNS)]
                     + [row_text(row, caches) for rows in results for row in rows]) + "\n"
    if out:
        with open(out, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


def fmt(v):
    return f"{v:.2f}" if isinstance(v, float) else str(v)


def row_text(row, caches):
    """A row as the table's line; misses are "-" when the cache model was off."""
    fields = [fmt(v) for v in row]
    return "\t".join(fields if caches and not row[2].startswith("work:") else fields[:5] + ["-", "-"])


def read_table(path):
    """(header entries, {(n, depth, pass): (per, instructions)}); exits with what is wrong."""
    entries, rows = {}, {}
    try:
        with open(path) as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise ValueError(f"cannot read {path}: {e.strerror}")
    columns = None
    for number, line in enumerate(lines, 1):
        if line.startswith("# "):
            key, _, value = line[2:].partition(": ")
            entries[key] = value
            continue
        fields = line.split("\t")
        if columns is None:
            if tuple(fields) != COLUMNS:
                raise ValueError(f"{path}:{number}: not the table's columns ({' '.join(COLUMNS)})")
            columns = fields
            continue
        if len(fields) != len(COLUMNS):
            raise ValueError(f"{path}:{number}: {len(fields)} fields, not {len(COLUMNS)}")
        try:
            key = (int(fields[0]), int(fields[1]), fields[2])
            value = float(fields[4])
        except ValueError:
            raise ValueError(f"{path}:{number}: not a number where one belongs")
        rows[key] = (fields[3], value)
    if columns is None or not rows:
        raise ValueError(f"{path}: no rows")
    for key in ("valgrind", "renderer"):
        if key not in entries:
            raise ValueError(f"{path}: no '# {key}:' line")
    return entries, rows


def compare(base_path, now_path):
    """The gate's verdict: the failures (none when NOW holds BASE's counts), and how far the own
    row furthest from the baseline is from it, with its name."""
    rewrite = "bench/counts.sh --write-baseline (and commit it, saying why)"
    try:
        base_head, base = read_table(base_path)
    except ValueError as e:
        return [f"the baseline does not parse: {e}; write it again: {rewrite}"], (0.0, "")
    now_head, now = read_table(now_path)
    failures = []
    largest = (0.0, "")
    for key in ("valgrind", "renderer"):
        if base_head[key] != now_head.get(key):
            failures.append(f"the baseline was made with {key} '{base_head[key]}', this run has "
                            f"'{now_head.get(key)}': unlike figures, not compared. Install the "
                            f"baseline's (scripts/setup.sh; scripts/renderer.sh install) or "
                            f"retake it: {rewrite}")
    if failures:
        return failures, largest
    same_library = True  # the versions match here, so the library rows may be compared
    for key in ("compiler", "libc"):
        if base_head.get(key) != now_head.get(key):
            print(f"note: baseline {key} '{base_head.get(key)}', now '{now_head.get(key)}'")
    for key, (per, value) in now.items():
        if not value > 0:
            failures.append(f"{key[2]} (n={key[0]} depth={key[1]}): a count of {value}, "
                            "zero or missing")
    for key, (per, b) in sorted(base.items()):
        name = f"{key[2]} (n={key[0]} depth={key[1]}, per {per})"
        if key not in now:
            failures.append(f"{name}: in the baseline, missing from this run")
            continue
        v = now[key][1]
        library = key[2].endswith(LIBRARY)
        if not b > 0 or not v > 0 or (library and not same_library):
            continue
        ratio = v / b
        line = f"{name}: base {b:.2f}, now {v:.2f}, ratio {ratio:.4f}"
        if library:
            if abs(ratio - 1) > TOLERANCE:
                print(f"note (library, not gated): {line}")
            continue
        largest = max(largest, (abs(ratio - 1), name))
        if ratio > 1 + TOLERANCE:
            failures.append(f"DEARER {line}")
        elif ratio < 1 - TOLERANCE:
            failures.append(f"CHEAPER {line} (record the gain: {rewrite})")
    for key in now:
        if key not in base:
            failures.append(f"{key[2]} (n={key[0]} depth={key[1]}): not in the baseline "
                            f"({rewrite})")
    return failures, largest


def main(argv):
    if len(argv) >= 3 and argv[0] == "run":
        run(argv[1:])
    elif len(argv) == 3 and argv[0] == "compare":
        failures, (difference, name) = compare(argv[1], argv[2])
        for f in failures:
            print(f"counts gate: {f}")
        if failures:
            sys.exit(1)
        closest = ("every own row as in the baseline, to the last digit" if difference == 0
                   else f"the furthest {name}, {difference:.4%} off")
        print(f"counts gate: every pass within {TOLERANCE:.0%} of the baseline; {closest}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
