#!/usr/bin/env python3
"""Times brightleaf-convert against pdftoppm, Ghostscript and MuPDF on fixed documents.

Every selected run (document, page range, DPI) is converted by every contender in
turn within each round: our current build, a former build from a git commit, our
build with extra flags (such as --jobs 4), pdftoppm, Ghostscript with and without
anti-aliasing, and `mutool draw` rendering alone. The peak memory of each whole
process tree is sampled while it runs. The report gives pages per second, ratios,
how close our converter comes to the machine's limit, a projection to more cores,
the issue targets as met or missed, and (with --mode fsync or all) the cost of
durable writes on tmpfs and on a disk folder. Called by bench/run.
"""

import argparse
import datetime
import json
import math
import os
import platform
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

# --- What is measured -----------------------------------------------------------

# Debian documentation packages; `pages` caps the range where a document is long.
DOCUMENTS = [
    {"name": "R-intro", "package": "r-doc-pdf", "pattern": r"/R-intro\.pdf$",
     "pages": None, "kind": "TeX text, Letter"},
    {"name": "refman", "package": "r-doc-pdf", "pattern": r"/refman\.pdf$",
     "pages": 500, "kind": "R reference manual, TeX text, Letter"},
    {"name": "freedombox", "package": "freedombox-doc-en",
     "pattern": r"/freedombox-manual\.pdf$", "pages": None, "kind": "screenshots, A4"},
    {"name": "cpp-annotations", "package": "c++-annotations-pdf",
     "pattern": r"/cplusplus\.pdf$", "pages": 200, "kind": "C++ Annotations, text and code, A4"},
]

RUNS = [("R-intro", 150), ("R-intro", 300), ("refman", 150), ("refman", 300),
        ("freedombox", 150), ("freedombox", 300), ("cpp-annotations", 300)]

# The fsync comparison needs many small files and a few large ones, not every run.
FSYNC_RUNS = [("R-intro", 150), ("freedombox", 300)]

# Our own variants that need an option the build may not have yet: name, flags.
DEFAULT_VARIANTS = [("jobs4", ["--jobs", "4"])]

# The string whose first appearance in a CMakeLists.txt marks the helper process;
# the default baseline is the commit before it.
HELPER_MARKER = "brightleaf-render"

# The tools every contender's speed is divided by.
REFERENCES = ("pdftoppm", "gs", "former")

PROJECTED_CORES = (4, 8, 16)
DEFAULT_HELPER_CAP = 8  # the converter's default number of helpers is min(cores, 8)

# Targets this benchmark checks (medians, this machine).
TARGET_EFFICIENCY = 1.10  # wall / ((sum render + sum encode) / cores)
TARGET_VS_PDFTOPPM = 1.5
TARGET_VS_GS = 1.1
TARGET_PEAK_MB = {("freedombox", 300): 250.0, ("R-intro", 150): 120.0}
TARGET_FSYNC_PERCENT = 3.0

MB = 1e6


def log(text):
    print(f"bench: {text}", flush=True)


# --- Documents --------------------------------------------------------------------


def package_file(package, pattern):
    """The first file of an installed Debian package whose path matches, or None."""
    listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True)
    if listing.returncode != 0:
        return None
    for line in listing.stdout.splitlines():
        if re.search(pattern, line) and os.path.isfile(line):
            return os.path.realpath(line)
    return None


def page_count(pdf, converter):
    if shutil.which("pdfinfo"):
        info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True)
        match = re.search(r"^Pages:\s+(\d+)", info.stdout, re.M)
        if match:
            return int(match.group(1))
    if converter:
        info = subprocess.run([converter, "--info", "--json", pdf], capture_output=True,
                              text=True)
        try:
            return int(json.loads(info.stdout.splitlines()[0])["document"]["page_count"])
        except (ValueError, IndexError, KeyError, TypeError):
            pass
    return None


def find_documents(notes, converter):
    docs = {}
    for spec in DOCUMENTS:
        path = package_file(spec["package"], spec["pattern"])
        if path is None:
            notes.append(f"{spec['name']}: package {spec['package']} holds no file matching "
                         f"{spec['pattern']} (not installed?); its runs are skipped")
            continue
        total = page_count(path, converter)
        if total is None:
            notes.append(f"{spec['name']}: page count of {path} unknown; its runs are skipped")
            continue
        doc = dict(spec, path=path, total_pages=total)
        doc["last"] = min(total, spec["pages"]) if spec["pages"] else total
        docs[spec["name"]] = doc
    return docs


def select_runs(args, docs, notes, default_runs):
    """The runs chosen by --runs, --doc and --dpi, in the table's order."""
    chosen = list(default_runs)
    if args.runs or args.doc or args.dpi:
        chosen = list(RUNS)
    if args.runs:
        wanted = []
        for text in args.runs:
            name, _, dpi = text.partition("@")
            matches = [r for r in RUNS if r[0].lower().startswith(name.lower())
                       and (not dpi or str(r[1]) == dpi)]
            if not matches and dpi.isdigit():
                # A DPI outside the table is allowed for a document of the table.
                matches = [(d["name"], int(dpi)) for d in DOCUMENTS
                           if d["name"].lower().startswith(name.lower())]
            if not matches:
                notes.append(f"--runs {text}: no such run")
            wanted += [m for m in matches if m not in wanted]
        chosen = wanted
    if args.doc:
        chosen = [r for r in chosen if any(r[0].lower().startswith(d.lower())
                                           for d in args.doc)]
    if args.dpi:
        chosen = [r for r in chosen if r[1] in args.dpi]
    runs = []
    for name, dpi in chosen:
        if name not in docs:
            continue
        doc = docs[name]
        last = doc["last"] if not args.max_pages else min(doc["last"], args.max_pages)
        runs.append({"id": f"{name}@{dpi}", "doc": doc, "dpi": dpi, "last": last,
                     "capped": last < doc["last"]})
    return runs


# --- Builds -------------------------------------------------------------------------


def git(root, *argv):
    proc = subprocess.run(["git", "-C", str(root), *argv], capture_output=True, text=True)
    return proc.stdout.strip() if proc.returncode == 0 else None


def resolve_baseline(root, ref, notes):
    """(commit, how it was chosen) for --baseline, or (None, None)."""
    if ref == "none":
        return None, None
    how = f"--baseline {ref}"
    if ref == "auto":
        first = git(root, "log", "--first-parent", "--diff-merges=first-parent", "--no-patch",
                    "--reverse", "--format=%H", "-S", HELPER_MARKER, "HEAD", "--",
                    "CMakeLists.txt", ":(glob)**/CMakeLists.txt")
        if not first:
            notes.append(f"former: no commit of this branch adds {HELPER_MARKER} yet, so the "
                         "current build is itself the in-process driver; pass --baseline REF "
                         "to compare with another commit")
            return None, None
        ref = first.splitlines()[0] + "^1"
        how = f"the commit before {HELPER_MARKER} appeared ({first.splitlines()[0][:12]})"
    commit = git(root, "rev-parse", "--verify", "--quiet", ref + "^{commit}")
    if not commit:
        notes.append(f"former: {ref} is not a commit here; no former build")
        return None, None
    return commit, how


def cmake_build(name, source, build_dir, defines, deps_dir, work, notes):
    """Builds the programs (no desktop, no tests) in Release; the converter's path or None.

    The whole default target is built so that any helper program the converter
    spawns is built beside it."""
    build_log = work / f"build-{name}.log"
    configure = ["cmake", "-S", str(source), "-B", str(build_dir), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DBL_BUILD_DESKTOP=OFF", "-DBL_BUILD_TESTS=OFF",
                 f"-DBL_DEPS_DIR={deps_dir}", *defines]
    build = ["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)]
    with open(build_log, "w") as out:
        for cmd in (configure, build):
            out.write("$ " + shlex.join(cmd) + "\n")
            out.flush()
            if subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                notes.append(f"{name}: build failed, see {build_log}; skipped")
                return None
    candidates = sorted(build_dir.glob("**/brightleaf-convert"))
    candidates = [c for c in candidates if c.is_file() and os.access(c, os.X_OK)]
    if not candidates:
        notes.append(f"{name}: the build made no brightleaf-convert; skipped")
        return None
    return candidates[0]


def build_current(root, work, notes):
    log("building the current source (Release) into build/bench")
    return cmake_build("current", root, root / "build" / "bench", [], root / ".deps", work, notes)


def build_baseline(root, commit, deps, work, notes):
    """Builds `commit` once into build/bench-COMMIT from a `git archive` of it."""
    folder = root / "build" / f"bench-{commit[:12]}"
    source = folder / "src"
    if not (source / "CMakeLists.txt").exists():
        log(f"extracting {commit[:12]} into {source}")
        shutil.rmtree(source, ignore_errors=True)
        source.mkdir(parents=True)
        archive = subprocess.Popen(["git", "-C", str(root), "archive", "--format=tar", commit],
                                   stdout=subprocess.PIPE)
        untar = subprocess.run(["tar", "-x", "-C", str(source)], stdin=archive.stdout)
        archive.stdout.close()
        if archive.wait() != 0 or untar.returncode != 0:
            notes.append(f"former: could not extract {commit[:12]}; skipped")
            shutil.rmtree(source, ignore_errors=True)
            return None
    # The pinned libraries are ignored by git, so the archive lacks them.
    deps_link = source / ".deps"
    if deps_link.is_symlink() and deps_link.resolve() != deps.resolve():
        deps_link.unlink()
    if not deps_link.exists():
        deps_link.symlink_to(deps)
    log(f"building the former converter {commit[:12]} into {folder / 'build'}")
    return cmake_build(f"former-{commit[:12]}", source, folder / "build", [], deps,
                       work, notes)


def source_has_option(root, option):
    files = [root / "CMakeLists.txt", *root.glob("*/CMakeLists.txt"), *root.glob("cmake/*")]
    return any(option in f.read_text(errors="replace") for f in files if f.is_file())


def build_nosync(root, work, notes):
    if not source_has_option(root, "BL_DURABLE_WRITES"):
        notes.append("no-sync build: this source has no BL_DURABLE_WRITES option yet, so both "
                     "builds are the same code and the fsync table shows the noise floor")
    log("building the no-sync variant (-DBL_DURABLE_WRITES=OFF) into build/bench-nosync")
    return cmake_build("nosync", root, root / "build" / "bench-nosync",
                       ["-DBL_DURABLE_WRITES=OFF"], root / ".deps", work, notes)


def program_text(cmd):
    proc = subprocess.run(cmd, capture_output=True, text=True)
    return (proc.stdout or proc.stderr).strip()


# --- Contenders ---------------------------------------------------------------------


def ours(key, label, converter, flags, helpers):
    """One of our builds. `helpers(n)` is how many pages render at once on n cores."""
    def command(run, out):
        return [str(converter), "--json", "-o", str(out), "-r", str(run["dpi"]), "-q", "90",
                "-p", f"1-{run['last']}", *flags, run["doc"]["path"]]
    return {"key": key, "label": label, "ours": True, "command": command, "files": True,
            "converter": str(converter), "flags": flags, "helpers": helpers}


def tool(key, label, program, command, files=True):
    return {"key": key, "label": label, "ours": False, "command": command, "files": files,
            "program": program}


def pdftoppm_cmd(run, out):
    return ["pdftoppm", "-jpeg", "-jpegopt", "quality=90", "-r", str(run["dpi"]), "-f", "1",
            "-l", str(run["last"]), run["doc"]["path"], str(out / "page")]


def gs_cmd(anti_alias):
    def command(run, out):
        cmd = ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=jpeg", "-dJPEGQ=90",
               f"-r{run['dpi']}", "-dFirstPage=1", f"-dLastPage={run['last']}"]
        if anti_alias:
            cmd += ["-dTextAlphaBits=4", "-dGraphicsAlphaBits=4"]
        return cmd + [f"-sOutputFile={out}/%04d.jpg", run["doc"]["path"]]
    return command


def mutool_cmd(run, out):
    # MuPDF 1.21 writes no JPEG: it renders RGB pixels and writes them as PNM
    # into /dev/null, so this is rendering alone, the speed anchor for PDFium.
    return ["mutool", "draw", "-q", "-c", "rgb", "-r", str(run["dpi"]), "-F", "pnm", "-o",
            "/dev/null", run["doc"]["path"], f"1-{run['last']}"]


def helper_model(help_text, flags):
    """How many pages our build renders at once on n cores: one without --jobs;
    the --jobs value when given; otherwise the default min(cores, 8)."""
    if "--jobs" not in help_text:
        return lambda n: 1
    for i, flag in enumerate(flags):
        value = flag.partition("=")[2] if flag.startswith("--jobs=") else (
            flags[i + 1] if flag == "--jobs" and i + 1 < len(flags) else None)
        if value is not None and value.isdigit():
            return lambda n: int(value)
    return lambda n: min(n, DEFAULT_HELPER_CAP)


def contenders(args, root, work, notes):
    """Every contender of the speed runs, and the versions to print."""
    versions = {}
    result = []
    current = Path(args.converter) if args.converter else build_current(root, work, notes)
    if current is None:
        notes.append("ours: no current build; our columns are empty")
    else:
        versions["ours"] = " / ".join(program_text([str(current), "--version"]).splitlines())
        help_text = program_text([str(current), "--help"])
        result.append(ours("ours", "ours", current, [], helper_model(help_text, [])))
        variants = list(DEFAULT_VARIANTS) + [parse_variant(v) for v in args.variant]
        for name, flags in variants:
            if args.tools and name not in args.tools:
                continue
            missing = [f for f in flags if f.startswith("--") and
                       f.split("=")[0] not in help_text]
            if missing:
                notes.append(f"{name}: this build has no {' '.join(missing)} option yet "
                             f"(checked with --help); skipped")
                continue
            result.append(ours(name, f"ours {' '.join(flags)}", current, flags,
                               helper_model(help_text, flags)))

    if not args.tools or "former" in args.tools:
        commit, how = resolve_baseline(root, args.baseline, notes)
        deps = Path(args.baseline_deps).resolve() if args.baseline_deps else root / ".deps"
        former = build_baseline(root, commit, deps, work, notes) if commit else None
        if former is not None:
            versions["former"] = (f"{commit[:12]} ({how}): " + " / ".join(
                program_text([str(former), "--version"]).splitlines()))
            help_text = program_text([str(former), "--help"])
            result.append(ours("former", f"former {commit[:8]}", former, [],
                               helper_model(help_text, [])))

    for key, label, program, command, files in (
            ("pdftoppm", "pdftoppm", "pdftoppm", pdftoppm_cmd, True),
            ("gs", "gs", "gs", gs_cmd(False), True),
            ("gs-aa", "gs AA", "gs", gs_cmd(True), True),
            ("mutool", "mutool (render only)", "mutool", mutool_cmd, False)):
        if shutil.which(program) is None:
            notes.append(f"{key}: {program} is not installed; skipped")
            continue
        result.append(tool(key, label, program, command, files))
    if shutil.which("pdftoppm"):
        versions["pdftoppm"] = program_text(["pdftoppm", "-v"]).splitlines()[0]
    if shutil.which("gs"):
        versions["gs"] = "Ghostscript " + program_text(["gs", "--version"])
    if shutil.which("mutool"):
        versions["mutool"] = program_text(["mutool", "-v"]).splitlines()[0]

    if args.tools:
        known = {c["key"] for c in result} | {"former", *(n for n, _ in DEFAULT_VARIANTS)}
        for name in args.tools:
            if name not in known and name not in {parse_variant(v)[0] for v in args.variant}:
                notes.append(f"--tools {name}: no such contender")
        result = [c for c in result if c["key"] in args.tools]
    return result, versions


def parse_variant(text):
    name, sep, flags = text.partition("=")
    if not sep or not name:
        sys.exit(f"bench: --variant wants NAME=FLAGS, got {text!r}")
    return name, shlex.split(flags)


# --- Running one attempt ------------------------------------------------------------


def process_tree(root_pid):
    """The pids below root_pid (not root_pid itself), from /proc/PID/task/TID/children."""
    found = []
    todo = [root_pid]
    while todo:
        pid = todo.pop()
        try:
            tids = os.listdir(f"/proc/{pid}/task")
        except OSError:
            continue
        for tid in tids:
            try:
                with open(f"/proc/{pid}/task/{tid}/children") as f:
                    children = [int(c) for c in f.read().split()]
            except OSError:
                continue
            found += children
            todo += children
    return found


def memory_kb(pid):
    """(Pss, Rss) of one process in kB from smaps_rollup; (0, 0) once it has gone."""
    pss = rss = 0
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    pss = int(line.split()[1])
                elif line.startswith("Rss:"):
                    rss = int(line.split()[1])
    except (OSError, ValueError):
        pass
    return pss, rss


class TreeSampler(threading.Thread):
    """Samples the summed Pss of a process tree until stopped and keeps the peak.

    Pss shares each page among the processes that map it, so memory that the
    converter and its helpers share (page buffers in memfd) counts once; a sum of
    Rss would count it in every process."""

    def __init__(self, root_pid, include_root, interval_s):
        super().__init__(daemon=True)
        self.root_pid = root_pid
        self.include_root = include_root
        self.interval_s = interval_s
        self.done = threading.Event()
        self.peak_pss_kb = 0
        self.peak_rss_sum_kb = 0
        self.max_processes = 0
        self.samples = 0

    def run(self):
        while True:
            pids = process_tree(self.root_pid)
            if self.include_root:
                pids.append(self.root_pid)
            pss = rss = 0
            for pid in pids:
                p, r = memory_kb(pid)
                pss += p
                rss += r
            self.peak_pss_kb = max(self.peak_pss_kb, pss)
            self.peak_rss_sum_kb = max(self.peak_rss_sum_kb, rss)
            self.max_processes = max(self.max_processes, len(pids))
            self.samples += 1
            if self.done.wait(self.interval_s):
                return


def parse_time_report(path):
    text = path.read_text(errors="replace") if path.exists() else ""

    def number(label):
        match = re.search(re.escape(label) + r":\s*([\d.]+)", text)
        return float(match.group(1)) if match else None

    maxrss = number("Maximum resident set size (kbytes)")
    user, system = number("User time (seconds)"), number("System time (seconds)")
    return {"maxrss_mb": maxrss * 1024 / MB if maxrss is not None else None,
            "cpu_s": user + system if user is not None and system is not None else None}


def run_attempt(cmd, stem, args):
    """Runs one command with its tree sampled; wall time, memory and exit status."""
    logs = args.work / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    time_file = logs / f"{stem}.time"
    time_file.unlink(missing_ok=True)
    use_time = os.access("/usr/bin/time", os.X_OK)
    full = (["/usr/bin/time", "-v", "-o", str(time_file)] if use_time else []) + cmd
    with open(logs / f"{stem}.stdout", "wb") as stdout, \
            open(logs / f"{stem}.stderr", "wb") as stderr:
        start = time.perf_counter()
        proc = subprocess.Popen(full, stdout=stdout, stderr=stderr, start_new_session=True)
        sampler = TreeSampler(proc.pid, not use_time, args.sample_ms / 1000.0)
        sampler.start()
        timed_out = False
        try:
            proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        except KeyboardInterrupt:
            os.killpg(proc.pid, signal.SIGKILL)
            raise
        finally:
            wall = time.perf_counter() - start
            sampler.done.set()
            sampler.join()
    attempt = {"wall_s": wall, "exit": proc.returncode, "timed_out": timed_out,
               "peak_pss_mb": sampler.peak_pss_kb * 1024 / MB,
               "peak_rss_sum_mb": sampler.peak_rss_sum_kb * 1024 / MB,
               "max_processes": sampler.max_processes, "samples": sampler.samples,
               "stdout": str(logs / f"{stem}.stdout"), "stderr": str(logs / f"{stem}.stderr")}
    attempt.update(parse_time_report(time_file))
    return attempt


def our_pages(stdout_path):
    """Per-page render and encode times from brightleaf-convert's --json output."""
    pages, errors = [], []
    for line in Path(stdout_path).read_text(errors="replace").splitlines():
        try:
            job = json.loads(line)
        except ValueError:
            continue
        result = job.get("result") or {}
        if result.get("error"):
            errors.append(result["error"].get("message", str(result["error"])))
        for page in result.get("page_results") or []:
            if page.get("error"):
                errors.append(page["error"].get("message", str(page["error"])))
            else:
                pages.append({"render_ms": page["render_ms"], "encode_ms": page["encode_ms"]})
    return pages, errors


def measure(contender, run, out, stem, args):
    """One attempt of one contender on one run, with its figures and any problem."""
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    attempt = run_attempt(contender["command"](run, out), stem, args)
    problem = None
    if attempt["timed_out"]:
        problem = f"timed out after {args.timeout} s"
    elif attempt["exit"] != 0:
        tail = Path(attempt["stderr"]).read_text(errors="replace").strip().splitlines()[-3:]
        problem = f"exit status {attempt['exit']}: {' / '.join(tail)}"
    if contender["files"]:
        images = [p for p in out.iterdir() if p.suffix == ".jpg"]
        attempt["pages"] = len(images)
        attempt["output_mb"] = sum(p.stat().st_size for p in images) / MB
    else:
        attempt["pages"] = run["last"] if attempt["exit"] == 0 else 0
        attempt["output_mb"] = None
    if problem is None and attempt["pages"] != run["last"]:
        problem = f"wrote {attempt['pages']} of {run['last']} pages"
    if contender["ours"]:
        pages, errors = our_pages(attempt["stdout"])
        attempt["render_ms"] = [p["render_ms"] for p in pages]
        attempt["encode_ms"] = [p["encode_ms"] for p in pages]
        if errors and problem is None:
            problem = f"{len(errors)} error(s), first: {errors[0]}"
    attempt["problem"] = problem
    return attempt


# --- Figures ------------------------------------------------------------------------


def median_attempt(attempts):
    """The round with the median wall time (the faster middle one for an even count),
    so that its other figures belong to it."""
    ordered = sorted(attempts, key=lambda a: a["wall_s"])
    return ordered[(len(ordered) - 1) // 2]


def pipeline_bound(render, encode):
    """The shortest wall a one-page-ahead pipeline (one renderer, one encoder) could
    reach with these per-page times, in seconds."""
    if not render:
        return 0.0
    total = render[0] + encode[-1]
    for enc, ren in zip(encode, render[1:]):
        total += max(enc, ren)
    return total / 1000.0


def projection(render_ms, encode_ms, wall, cores, helpers):
    """Serial part and projected wall times on more cores (see bench/README.md).

    The parallel part on n cores is the largest of: all work spread over n cores;
    all rendering spread over the pages that render at once; all encoding spread
    over as many encoders; and the slowest single page. The serial part is what the
    measured wall time has beyond that parallel part on this machine's cores."""
    render, encode = sum(render_ms) / 1000.0, sum(encode_ms) / 1000.0
    longest = max((r + e for r, e in zip(render_ms, encode_ms)), default=0.0) / 1000.0

    def parallel(n):
        lanes = max(1, min(n, helpers(n)))
        return max((render + encode) / n, render / lanes, encode / lanes, longest)

    # Clock times inflated by waiting for a core can make the parallel part exceed
    # the wall time; more cores never make the projection slower than what was measured.
    serial = max(0.0, wall - parallel(cores))
    return serial, parallel(cores), {n: min(wall, serial + parallel(n))
                                     for n in PROJECTED_CORES}


def summarise(contender, run, attempts, cores):
    good = [a for a in attempts if a["problem"] is None]
    if not good:
        return None
    mid = median_attempt(good)
    best = min(a["wall_s"] for a in good)
    summary = {
        "contender": contender["key"], "label": contender["label"], "run": run["id"],
        "document": run["doc"]["name"], "dpi": run["dpi"], "pages": run["last"],
        "rounds": len(good), "walls_s": [a["wall_s"] for a in attempts],
        "wall_s": mid["wall_s"], "best_wall_s": best,
        "pps": run["last"] / mid["wall_s"], "best_pps": run["last"] / best,
        "peak_pss_mb": statistics.median(a["peak_pss_mb"] for a in good),
        "peak_pss_mb_max": max(a["peak_pss_mb"] for a in good),
        "peak_rss_sum_mb": statistics.median(a["peak_rss_sum_mb"] for a in good),
        "max_processes": max(a["max_processes"] for a in good),
        "maxrss_mb": mid["maxrss_mb"], "cpu_s": mid["cpu_s"], "output_mb": mid["output_mb"],
    }
    if contender["ours"] and mid["render_ms"]:
        render, encode = sum(mid["render_ms"]) / 1000.0, sum(mid["encode_ms"]) / 1000.0
        serial, parallel, projected = projection(mid["render_ms"], mid["encode_ms"],
                                                 mid["wall_s"], cores, contender["helpers"])
        summary.update({
            "render_s": render, "encode_s": encode, "work_s": render + encode,
            "efficiency": mid["wall_s"] / ((render + encode) / cores),
            "pipeline_bound_s": pipeline_bound(mid["render_ms"], mid["encode_ms"]),
            "serial_s": serial, "parallel_s": parallel,
            "helpers_here": contender["helpers"](cores),
            "projected_wall_s": projected,
            "projected_pps": {n: run["last"] / w for n, w in projected.items()},
        })
    return summary


# --- Speed runs ---------------------------------------------------------------------


def paired_ratio(mine, theirs):
    """Median over the rounds of their wall time divided by mine: how many times
    their pages per second mine is, from runs taken moments apart."""
    walls = {a["round"]: a["wall_s"] for a in theirs if a["problem"] is None}
    ratios = [walls[a["round"]] / a["wall_s"] for a in mine
              if a["problem"] is None and a["round"] in walls]
    return statistics.median(ratios) if ratios else None


def warm_up(field, run, args):
    """One short untimed conversion per contender, so that loading the programs and
    their libraries from disk falls on no timed round."""
    short = dict(run, last=min(run["last"], 2))
    for contender in field:
        out = args.out / "warm-up" / contender["key"]
        measure(contender, short, out, f"warm-up-{contender['key']}", args)
        shutil.rmtree(out, ignore_errors=True)


def speed_mode(args, runs, field, cores, notes):
    summaries, all_attempts = [], []
    warm_up(field, runs[0], args)
    for run in runs:
        run_id = run["id"]
        # Read the document once so that no contender pays for the first disk read.
        Path(run["doc"]["path"]).read_bytes()
        attempts = {c["key"]: [] for c in field}
        given_up = set()
        for round_index in range(args.repeat):
            # The contenders take turns within each round, starting one further on in
            # every round, so that a busy moment on the machine spreads over them.
            shift = round_index % len(field)
            for contender in field[shift:] + field[:shift]:
                key = contender["key"]
                if key in given_up:
                    continue
                out = args.out / run["doc"]["name"] / str(run["dpi"]) / key
                stem = f"{run['doc']['name']}-{run['dpi']}-{key}-r{round_index + 1}"
                attempt = measure(contender, run, out, stem, args)
                attempt.update({"contender": key, "run": run_id, "round": round_index + 1})
                attempts[key].append(attempt)
                all_attempts.append(attempt)
                if attempt["problem"]:
                    notes.append(f"{key} on {run_id}: {attempt['problem']}; not repeated")
                    given_up.add(key)
                keep = (key in ("ours", "pdftoppm") and run["dpi"] == args.psnr_dpi
                        and args.psnr_pages)
                if not keep and not args.keep_images:
                    shutil.rmtree(out, ignore_errors=True)
        for contender in field:
            walls = " ".join(f"{a['wall_s']:.2f}" for a in attempts[contender["key"]])
            summary = summarise(contender, run, attempts[contender["key"]], cores)
            if summary:
                summary["vs"] = {other: paired_ratio(attempts[contender["key"]],
                                                     attempts.get(other, []))
                                 for other in REFERENCES}
                summaries.append(summary)
                log(f"{contender['key']:10} {run_id:20} {summary['pps']:7.1f} p/s  "
                    f"peak {summary['peak_pss_mb']:6.0f} MB  walls {walls} s")
            else:
                log(f"{contender['key']:10} {run_id:20} failed")
    return summaries, all_attempts


# --- fsync runs ---------------------------------------------------------------------


def fs_type(path):
    proc = subprocess.run(["stat", "-f", "-c", "%T", str(path)], capture_output=True, text=True)
    return proc.stdout.strip() if proc.returncode == 0 else "unknown"


def fsync_mode(args, runs, durable, nosync, notes):
    """Our converter with and without durable writes, to tmpfs and to a disk folder."""
    folders = []
    for label, path, want_tmpfs in (("tmpfs", args.out, True), ("disk", args.disk_dir, False)):
        path.mkdir(parents=True, exist_ok=True)
        kind = fs_type(path)
        if (kind in ("tmpfs", "ramfs")) != want_tmpfs:
            notes.append(f"fsync: {path} is {kind}, not {'tmpfs' if want_tmpfs else 'a disk'}; "
                         f"its {label} column is skipped")
            continue
        folders.append((label, path, kind))
    builds = [("durable", durable), ("nosync", nosync)]
    if runs:
        warm_up([durable, nosync], runs[0], args)
    results = []
    for run in runs:
        Path(run["doc"]["path"]).read_bytes()
        walls = {(f[0], b[0]): [] for f in folders for b in builds}
        failed = set()
        for round_index in range(args.fsync_repeat):
            order = [(f, b) for f in folders for b in builds]
            if round_index % 2:
                order.reverse()
            for (label, path, _), (build_name, contender) in order:
                if (label, build_name) in failed:
                    continue
                out = path / "fsync" / build_name
                stem = f"fsync-{run['doc']['name']}-{run['dpi']}-{label}-{build_name}-" \
                       f"r{round_index + 1}"
                # Flush what earlier runs left dirty, so that no run pays for another.
                shutil.rmtree(out, ignore_errors=True)
                os.sync()
                attempt = measure(contender, run, out, stem, args)
                shutil.rmtree(out, ignore_errors=True)
                if attempt["problem"]:
                    notes.append(f"fsync {build_name} to {label} on {run['id']}: "
                                 f"{attempt['problem']}")
                    failed.add((label, build_name))
                    continue
                walls[(label, build_name)].append(attempt["wall_s"])
        os.sync()
        for label, path, kind in folders:
            d, n = walls[(label, "durable")], walls[(label, "nosync")]
            if not d or not n:
                continue
            paired = [(a - b) / b * 100.0 for a, b in zip(d, n)]
            row = {"run": run["id"], "pages": run["last"], "capped": run["capped"],
                   "folder": label, "path": str(path),
                   "fs": kind, "durable_walls_s": d, "nosync_walls_s": n,
                   "durable_s": statistics.median(d), "nosync_s": statistics.median(n),
                   "paired_percent": statistics.median(paired)}
            row["percent"] = (row["durable_s"] - row["nosync_s"]) / row["nosync_s"] * 100.0
            results.append(row)
            log(f"fsync {run['id']:20} {label:5} durable {row['durable_s']:.2f} s, "
                f"no sync {row['nosync_s']:.2f} s: {row['paired_percent']:+.1f} %")
    return results


# --- PSNR ---------------------------------------------------------------------------


def jpeg_size(path):
    """Width and height from a JPEG's start-of-frame marker."""
    data = path.read_bytes()
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        length = int.from_bytes(data[i + 2:i + 4], "big")
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height = int.from_bytes(data[i + 5:i + 7], "big")
            width = int.from_bytes(data[i + 7:i + 9], "big")
            return width, height
        i += 2 + length
    raise ValueError(f"{path}: no frame header")


def decode_to_pnm(path):
    """Decoded pixels as PNM bytes: djpeg where installed, else Ghostscript."""
    if shutil.which("djpeg"):
        return subprocess.run(["djpeg", "-pnm", str(path)], capture_output=True,
                              check=True).stdout
    # Ghostscript's JPEG viewer draws the image on a page of exactly its size
    # in points; at 72 DPI that is one pixel per image sample.
    width, height = jpeg_size(path)
    return subprocess.run(
        ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", f"--permit-file-read={path}",
         "-sDEVICE=ppmraw", "-r72", f"-dDEVICEWIDTHPOINTS={width}",
         f"-dDEVICEHEIGHTPOINTS={height}", "-dFIXEDMEDIA", "-sOutputFile=-",
         "viewjpeg.ps", "-c", f"({path}) viewJPEG showpage"],
        capture_output=True, check=True).stdout


def parse_pnm(data):
    """(width, height, RGB bytes) of a binary PGM or PPM."""
    fields = []
    i = 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            while data[i:i + 1] not in (b"\n", b""):
                i += 1
            continue
        start = i
        while not data[i:i + 1].isspace():
            i += 1
        fields.append(data[start:i])
    i += 1  # the single blank after the maximum value
    magic, width, height = fields[0], int(fields[1]), int(fields[2])
    pixels = data[i:]
    if magic == b"P5":
        pixels = bytes(v for v in pixels for _ in range(3))
    elif magic != b"P6":
        raise ValueError(f"unexpected PNM type {magic!r}")
    return width, height, pixels


def psnr(a, b):
    """PSNR in dB over the area both images cover, and that area."""
    (wa, ha, pa), (wb, hb, pb) = a, b
    width, height = min(wa, wb), min(ha, hb)
    squared = 0
    for y in range(height):
        row_a = pa[y * wa * 3:(y * wa + width) * 3]
        row_b = pb[y * wb * 3:(y * wb + width) * 3]
        squared += sum((x - z) * (x - z) for x, z in zip(row_a, row_b))
    mse = squared / (width * height * 3)
    value = math.inf if mse == 0 else 10.0 * math.log10(255.0 * 255.0 / mse)
    return value, width, height


def numbered_images(folder):
    """{page number: path} from the last number in each image's name."""
    pages = {}
    for path in folder.glob("*.jpg"):
        match = re.search(r"(\d+)\D*$", path.stem)
        if match:
            pages[int(match.group(1))] = path
    return pages


def psnr_rows(runs, out_root, dpi, wanted, notes):
    rows = []
    for run in runs:
        if run["dpi"] != dpi:
            continue
        doc = run["doc"]
        ours_images = numbered_images(out_root / doc["name"] / str(dpi) / "ours")
        theirs = numbered_images(out_root / doc["name"] / str(dpi) / "pdftoppm")
        for page in wanted:
            if page not in ours_images or page not in theirs:
                continue
            try:
                a = parse_pnm(decode_to_pnm(ours_images[page]))
                b = parse_pnm(decode_to_pnm(theirs[page]))
                value, width, height = psnr(a, b)
                # pdftoppm's JPEG against its own lossless rendering: the loss that
                # JPEG alone causes, to set the difference between renderers against.
                lossless = subprocess.run(["pdftoppm", "-r", str(dpi), "-f", str(page), "-l",
                                           str(page), doc["path"]], capture_output=True,
                                          check=True).stdout
                encoding_only, _, _ = psnr(b, parse_pnm(lossless))
            except (subprocess.CalledProcessError, ValueError, IndexError) as error:
                notes.append(f"PSNR of {doc['name']} page {page}: {error}")
                continue
            rows.append({"document": doc["name"], "dpi": dpi, "page": page,
                         "ours_px": f"{a[0]}x{a[1]}", "pdftoppm_px": f"{b[0]}x{b[1]}",
                         "compared_px": f"{width}x{height}", "psnr_db": value,
                         "pdftoppm_jpeg_vs_ppm_db": encoding_only})
    return rows


# --- Report -------------------------------------------------------------------------


def machine_description(cores):
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        mem_kb = int(info.readline().split()[1])
    os_name = platform.system()
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release") as release:
            for line in release:
                if line.startswith("PRETTY_NAME="):
                    os_name = line.split("=", 1)[1].strip().strip('"')
    return {"cpu": cpu, "cores": cores, "memory_gib": round(mem_kb / 1024 / 1024, 1),
            "os": os_name, "load_average": os.getloadavg()}


def table(headers, rows):
    widths = [max(len(h), *(len(r[i]) for r in rows)) if rows else len(h)
              for i, h in enumerate(headers)]
    lines = ["| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for row in rows:
        lines.append("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    return "\n".join(lines)


def fmt(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def run_label(run):
    doc = run["doc"]
    return f"{doc['name']} ({run['last']} p{', capped' if run['capped'] else ''})"


def speed_report(runs, field, summaries, cores):
    out = []
    by = {(s["run"], s["contender"]): s for s in summaries}

    def ratio(run_id, key, other):
        mine = by.get((run_id, key))
        return mine["vs"].get(other) if mine else None

    keys = [c["key"] for c in field]
    labels = {c["key"]: c["label"] for c in field}
    references = [other for other in REFERENCES if other in keys]
    rows = []
    for run in runs:
        row = [run_label(run), str(run["dpi"])]
        for key in keys:
            s = by.get((run["id"], key))
            row.append(fmt(s["pps"]) if s else "-")
        ours_run = by.get((run["id"], "ours"))
        row += [fmt(ratio(run["id"], "ours", other), 2) for other in references]
        row.append(fmt(ours_run["peak_pss_mb"], 0) if ours_run else "-")
        rows.append(row)
    out.append("Pages per second, side by side (median round; higher is better). Every "
               "contender writes JPEG at quality 90"
               + (", except mutool, which only renders (PNM to /dev/null)" if "mutool" in keys
                  else "") + ":")
    out.append("")
    out.append(table(["document", "DPI", *(labels[k] for k in keys),
                      *(f"ours / {other}" for other in references), "ours peak MB"], rows))
    out.append("")

    rows = []
    for run in runs:
        for key in keys:
            s = by.get((run["id"], key))
            if not s:
                continue
            rows.append([run["id"], labels[key], str(s["pages"]), fmt(s["wall_s"], 2),
                         fmt(s["pps"]), fmt(s["best_pps"]),
                         fmt(ratio(run["id"], key, "pdftoppm"), 2),
                         fmt(ratio(run["id"], key, "gs"), 2), fmt(s["cpu_s"], 2),
                         fmt(s["peak_pss_mb"], 0), str(s["max_processes"]),
                         fmt(s["maxrss_mb"], 0), fmt(s["output_mb"])])
    out.append("Every contender (wall and pages/s of the median round, best = fastest round; "
               "CPU = user + system seconds; peak tree = highest summed Pss of the process and "
               "all its descendants, sampled; procs = most processes seen in the tree at once; "
               "maxrss = /usr/bin/time's largest single process):")
    out.append("")
    out.append(table(["run", "contender", "pages", "wall s", "pages/s", "best pages/s",
                      "/ pdftoppm", "/ gs", "CPU s", "peak tree MB", "procs", "maxrss MB",
                      "output MB"], rows))
    out.append("")

    rows = []
    for run in runs:
        for key in keys:
            s = by.get((run["id"], key))
            if not s or "efficiency" not in s:
                continue
            rows.append([run["id"], labels[key], fmt(s["wall_s"], 2), fmt(s["render_s"], 2),
                         fmt(s["encode_s"], 2), fmt(s["work_s"] / cores, 2),
                         fmt(s["efficiency"], 2),
                         fmt(s["cpu_s"] / s["wall_s"], 2) if s["cpu_s"] is not None else "-",
                         fmt(s["pipeline_bound_s"], 2), fmt(s["serial_s"], 2)])
    out.append(f"Our converter against this machine's limit ({cores} cores). work / cores = "
               "(Σ render_ms + Σ encode_ms) / cores from the --json output; wall / that = 1.0 "
               "would use every core for nothing but rendering and encoding; render_ms and "
               "encode_ms are clock times, so time spent waiting for a core counts as work. "
               f"Cores busy = CPU s / wall s of the whole tree ({cores} at most); well below "
               "what the first ratio suggests means the machine was busy with other work. "
               "1-ahead bound = "
               "the best one renderer and one encoder overlapping one page ahead could do. "
               "serial = wall − the modelled parallel part (see the projection):")
    out.append("")
    out.append(table(["run", "contender", "wall s", "Σ render s", "Σ encode s", "work / cores s",
                      "wall / (work / cores)", "cores busy", "1-ahead bound s",
                      "serial s"], rows))
    out.append("")

    rows = []
    for run in runs:
        theirs = by.get((run["id"], "pdftoppm"))
        for key in keys:
            s = by.get((run["id"], key))
            if not s or "projected_pps" not in s:
                continue
            row = [run["id"], labels[key], fmt(s["pps"])]
            for n in PROJECTED_CORES:
                row.append(fmt(s["projected_pps"][n]))
            row.append(fmt(s["projected_pps"][PROJECTED_CORES[-1]] / theirs["pps"], 2)
                       if theirs else "-")
            rows.append(row)
    out.append("Projection to more cores from the measured per-page times and serial part "
               "(pages/s; a build without --jobs renders one page at a time, with it "
               f"min(cores, {DEFAULT_HELPER_CAP}) or the --jobs value; pdftoppm is "
               "single-threaded and stays where it is):")
    out.append("")
    out.append(table(["run", "contender", f"{cores} cores (measured)",
                      *(f"{n} cores" for n in PROJECTED_CORES),
                      f"{PROJECTED_CORES[-1]} cores / pdftoppm"], rows))
    out.append("")
    return out


def targets(runs, summaries, fsync_rows):
    by = {(s["run"], s["contender"]): s for s in summaries}
    checks = []
    for run in runs:
        note = " (pages capped: indicative only)" if run["capped"] else ""
        ours_run = by.get((run["id"], "ours"))
        if not ours_run:
            continue
        if "efficiency" in ours_run:
            value = ours_run["efficiency"]
            checks.append((value <= TARGET_EFFICIENCY,
                           f"{run['id']}: wall / (work / cores) = {value:.2f} "
                           f"(target <= {TARGET_EFFICIENCY}){note}"))
        for other, goal in (("pdftoppm", TARGET_VS_PDFTOPPM), ("gs", TARGET_VS_GS)):
            value = ours_run["vs"].get(other)
            if value is not None:
                checks.append((value >= goal, f"{run['id']}: {value:.2f} x {other}'s pages/s "
                                              f"(target >= {goal}){note}"))
        goal = TARGET_PEAK_MB.get((run["doc"]["name"], run["dpi"]))
        if goal:
            value = ours_run["peak_pss_mb"]
            checks.append((value <= goal, f"{run['id']}: peak memory of the process tree "
                                          f"{value:.0f} MB (target <= {goal:.0f}){note}"))
    for row in fsync_rows:
        checks.append((row["paired_percent"] <= TARGET_FSYNC_PERCENT,
                       f"{row['run']} to {row['folder']}: durable writes cost "
                       f"{row['paired_percent']:+.1f} % (target <= "
                       f"{TARGET_FSYNC_PERCENT:.0f} %)"
                       f"{' (pages capped: indicative only)' if row['capped'] else ''}"))
    return checks


def report(ctx):
    out = [f"Date: {ctx['date']}"]
    m = ctx["machine"]
    out.append(f"Machine: {m['cpu']}, {m['cores']} cores, {m['memory_gib']} GiB, {m['os']}; "
               f"load average at start {m['load_average'][0]:.2f}, at the end "
               f"{ctx['load_at_end'][0]:.2f}")
    for key, text in ctx["versions"].items():
        out.append(f"- {key}: {text}")
    out.append(f"Output folder: {ctx['out']} ({ctx['out_fs']}). Rounds: {ctx['repeat']} "
               f"(speed), {ctx['fsync_repeat']} (fsync). Memory in MB of 10^6 bytes.")
    out.append("")
    if ctx["runs"] and ctx["summaries"]:
        out += speed_report(ctx["runs"], ctx["field"], ctx["summaries"], m["cores"])
    if ctx["fsync"]:
        rows = [[r["run"], str(r["pages"]), f"{r['folder']} ({r['fs']})",
                 " ".join(f"{w:.2f}" for w in r["durable_walls_s"]),
                 " ".join(f"{w:.2f}" for w in r["nosync_walls_s"]),
                 fmt(r["durable_s"], 2), fmt(r["nosync_s"], 2),
                 f"{r['paired_percent']:+.1f}", f"{r['percent']:+.1f}"] for r in ctx["fsync"]]
        out.append("Cost of durable writes (our converter, default settings; durable = the "
                   "normal build, no sync = -DBL_DURABLE_WRITES=OFF; the two take turns in "
                   "each round. cost = the median of each round's own difference, which a "
                   "busy machine moves least; beside it the difference of the medians):")
        out.append("")
        out.append(table(["run", "pages", "folder", "durable walls s", "no-sync walls s",
                          "durable s", "no sync s", "cost %", "of medians %"], rows))
        out.append("")
    if ctx["psnr"]:
        def db(value):
            return "inf" if math.isinf(value) else f"{value:.2f}"
        rows = [[p["document"], str(p["dpi"]), str(p["page"]), p["ours_px"], p["pdftoppm_px"],
                 db(p["psnr_db"]), db(p["pdftoppm_jpeg_vs_ppm_db"])] for p in ctx["psnr"]]
        out.append("PSNR between our and pdftoppm's JPEG of the same page, over the area both "
                   "cover; beside it, pdftoppm's JPEG against its lossless rendering (the loss "
                   "from JPEG alone):")
        out.append("")
        out.append(table(["document", "DPI", "page", "ours px", "pdftoppm px", "PSNR dB",
                          "pdftoppm JPEG vs PPM dB"], rows))
        out.append("")
    checks = targets(ctx["runs"], ctx["summaries"], ctx["fsync"])
    if checks:
        out.append("Targets:")
        out.append("")
        for ok, text in checks:
            out.append(f"- {'met' if ok else 'MISSED'}: {text}")
        out.append("")
    if ctx["notes"]:
        out.append("Notes:")
        out.append("")
        out += [f"- {n}" for n in ctx["notes"]]
    return "\n".join(out).rstrip() + "\n"


def json_ready(value):
    if isinstance(value, float) and math.isinf(value):
        return None
    if isinstance(value, dict):
        return {str(k): json_ready(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_ready(v) for v in value]
    return value


# --- Main ---------------------------------------------------------------------------


def main():
    root_default = Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mode", choices=("speed", "fsync", "all"), default="speed",
                        help="speed runs, the fsync comparison, or both (default: speed)")
    parser.add_argument("--runs", nargs="+", metavar="DOC[@DPI]",
                        help="runs by id, e.g. R-intro@150 refman (document name prefixes)")
    parser.add_argument("--doc", nargs="+", metavar="NAME", help="only these documents")
    parser.add_argument("--dpi", type=int, nargs="+", help="only these resolutions")
    parser.add_argument("--max-pages", type=int, metavar="N",
                        help="convert at most the first N pages of each document (quick checks)")
    parser.add_argument("--tools", nargs="+", metavar="NAME",
                        help="only these contenders: ours former jobs4 pdftoppm gs gs-aa "
                             "mutool, or a --variant name")
    parser.add_argument("--baseline", default="auto", metavar="REF",
                        help="git ref of the former build; 'auto' (default) is the commit "
                             f"before {HELPER_MARKER} appeared, 'none' for no former build")
    parser.add_argument("--baseline-deps", metavar="DIR",
                        help="pinned libraries for the former build (default: .deps/, the "
                             "same as the current build's)")
    parser.add_argument("--variant", action="append", default=[], metavar="NAME=FLAGS",
                        help="another run of the current build with extra flags, e.g. "
                             "'jobs1=--jobs 1' (repeatable)")
    parser.add_argument("--repeat", type=int, default=1, metavar="N",
                        help="rounds of the speed runs; figures are from the median round")
    parser.add_argument("--fsync-repeat", type=int, default=3, metavar="N",
                        help="rounds of the fsync comparison (default 3)")
    parser.add_argument("--converter", help="use this brightleaf-convert as the current build "
                                            "instead of building build/bench")
    parser.add_argument("--root", type=Path, default=root_default, help="the source checkout")
    parser.add_argument("--work", type=Path, help="logs and results (default bench/work)")
    parser.add_argument("--out", type=Path,
                        help="tmpfs folder for the images (default /dev/shm/brightleaf-bench-PID,"
                             " removed at the end)")
    parser.add_argument("--disk-dir", type=Path,
                        help="disk folder for the fsync comparison (default bench/out)")
    parser.add_argument("--sample-ms", type=float, default=15.0,
                        help="memory sampling interval in ms (default 15)")
    parser.add_argument("--timeout", type=float, default=900.0,
                        help="seconds before one attempt is killed (default 900)")
    parser.add_argument("--psnr-pages", type=int, nargs="*", default=[1, 10, 50],
                        help="pages whose PSNR against pdftoppm is shown; none to skip")
    parser.add_argument("--psnr-dpi", type=int, default=150)
    parser.add_argument("--keep-images", action="store_true",
                        help="leave every contender's images in the output folder")
    parser.add_argument("--list", action="store_true", help="print the runs and exit")
    args = parser.parse_args()

    root = args.root.resolve()
    args.work = (args.work or root / "bench" / "work").resolve()
    args.disk_dir = (args.disk_dir or root / "bench" / "out").resolve()
    # A folder of this run's own, so that benchmarks of other checkouts running at
    # the same time never share it.
    own_out = args.out is None
    if own_out:
        args.out = Path(f"/dev/shm/brightleaf-bench-{os.getpid()}")
    args.work.mkdir(parents=True, exist_ok=True)
    shutil.rmtree(args.work / "logs", ignore_errors=True)
    notes = []
    cores = len(os.sched_getaffinity(0))
    machine = machine_description(cores)

    docs = find_documents(notes, args.converter)
    speed_runs = select_runs(args, docs, notes, RUNS) if args.mode != "fsync" else []
    fsync_runs = select_runs(args, docs, notes, FSYNC_RUNS) if args.mode != "speed" else []
    if args.list:
        for run in speed_runs:
            print(f"speed {run['id']:20} pages 1-{run['last']} of {run['doc']['path']}")
        for run in fsync_runs:
            print(f"fsync {run['id']:20} pages 1-{run['last']} of {run['doc']['path']}")
        for note in notes:
            print(f"note: {note}")
        return
    for doc in docs.values():
        log(f"{doc['name']} ({doc['kind']}, {doc['total_pages']} pages, up to page "
            f"{doc['last']}): {doc['path']}")

    args.out.mkdir(parents=True, exist_ok=True)
    out_fs = fs_type(args.out)
    if out_fs not in ("tmpfs", "ramfs"):
        notes.append(f"the output folder {args.out} is {out_fs}, not tmpfs: writing is timed "
                     "too")

    field, versions = [], {}
    if speed_runs:
        field, versions = contenders(args, root, args.work, notes)
    summaries, attempts = [], []
    if speed_runs and field:
        summaries, attempts = speed_mode(args, speed_runs, field, cores, notes)

    fsync_rows = []
    if fsync_runs:
        durable = Path(args.converter) if args.converter else build_current(root, args.work,
                                                                            notes)
        nosync = build_nosync(root, args.work, notes)
        if durable and nosync:
            versions.setdefault("ours", " / ".join(
                program_text([str(durable), "--version"]).splitlines()))
            fsync_rows = fsync_mode(args, fsync_runs,
                                    ours("durable", "durable", durable, [], lambda n: 1),
                                    ours("nosync", "no sync", nosync, [], lambda n: 1), notes)

    psnr_results = []
    if speed_runs and args.psnr_pages and any(c["key"] == "ours" for c in field):
        log("comparing images")
        psnr_results = psnr_rows(speed_runs, args.out, args.psnr_dpi, args.psnr_pages, notes)
    if not args.keep_images:
        for run in speed_runs:
            shutil.rmtree(args.out / run["doc"]["name"], ignore_errors=True)
        shutil.rmtree(args.out / "warm-up", ignore_errors=True)
        shutil.rmtree(args.out / "fsync", ignore_errors=True)
        shutil.rmtree(args.disk_dir / "fsync", ignore_errors=True)
        if own_out:
            shutil.rmtree(args.out, ignore_errors=True)
    else:
        log(f"images kept in {args.out}")

    ctx = {"date": datetime.date.today().isoformat(), "machine": machine,
           "load_at_end": os.getloadavg(),
           "versions": versions, "out": str(args.out), "out_fs": out_fs,
           "repeat": args.repeat, "fsync_repeat": args.fsync_repeat, "runs": speed_runs,
           "field": field, "summaries": summaries, "fsync": fsync_rows,
           "psnr": psnr_results, "notes": notes}
    text = report(ctx)
    (args.work / "results.md").write_text(text)
    for attempt in attempts:
        attempt.pop("stdout", None)
        attempt.pop("stderr", None)
    (args.work / "results.json").write_text(json.dumps(json_ready({
        "date": ctx["date"], "machine": ctx["machine"], "load_at_end": ctx["load_at_end"],
        "versions": versions,
        "options": {k: str(v) if isinstance(v, Path) else v for k, v in vars(args).items()},
        "runs": [{"id": r["id"], "document": r["doc"]["name"], "path": r["doc"]["path"],
                  "dpi": r["dpi"], "pages": r["last"], "capped": r["capped"]}
                 for r in speed_runs],
        "contenders": [{"key": c["key"], "label": c["label"],
                        "converter": c.get("converter"), "flags": c.get("flags")}
                       for c in field],
        "summaries": summaries, "attempts": attempts, "fsync": fsync_rows,
        "psnr": psnr_results,
        "targets": [{"met": ok, "text": t} for ok, t in targets(speed_runs, summaries,
                                                                 fsync_rows)],
        "notes": notes}), indent=1))
    print()
    print(text, end="")


if __name__ == "__main__":
    main()
