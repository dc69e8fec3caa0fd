#!/usr/bin/env python3
"""Two checks of the conversion core that whole-document runs do not show.

    bench/core.py [--converter PATH] [--rounds N]

1. Memory of the driver itself: the main process's peak (VmHWM, sampled; the
   render helpers are other processes) while converting every page of the R
   reference manual at 72 DPI with 1 and with 2 helpers. The driver keeps one
   result per page and nothing else per page, so the two should be close.
2. Start-up: a one-page conversion of R-intro at 150 DPI as whole processes,
   side by side with pdftoppm, alternating, median of the rounds.
3. The estimate of --dry-run against what a conversion then writes, for R-intro
   and the FreedomBox manual at 150 and 300 DPI.

Without --converter the current source is built in Release into build/bench
(as bench/bench.py does). Output goes to tmpfs and is deleted.
"""
import argparse, json, os, re, shutil, statistics, subprocess, sys, tempfile, time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MANUALS = Path("/usr/share/R/doc/manual")


def build(root):
    build_dir = root / "build" / "bench"
    for cmd in (["cmake", "-S", str(root), "-B", str(build_dir), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DBL_BUILD_DESKTOP=OFF", "-DBL_BUILD_TESTS=OFF"],
                ["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)]):
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return build_dir / "bin" / "brightleaf-convert"


def main_peak_mb(cmd):
    """Runs cmd; its own peak resident memory (not its children's), in MB."""
    process = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        try:
            status = Path(f"/proc/{process.pid}/status").read_text()
            peak = max(peak, int(re.search(r"VmHWM:\s+(\d+)", status).group(1)))
        except (OSError, AttributeError):
            pass
        time.sleep(0.01)
    if process.returncode != 0:
        sys.exit(f"failed ({process.returncode}): {' '.join(map(str, cmd))}")
    return peak / 1024


def wall_ms(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000


def estimate_rows(converter, out):
    manual = Path("/usr/share/freedombox/manual/en/freedombox-manual.pdf")
    for doc in (MANUALS / "R-intro.pdf", manual):
        for dpi in (150, 300):
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir()
            planned = subprocess.run([converter, "--dry-run", "--json", "-r", str(dpi), "-o",
                                      out, doc], check=True, capture_output=True, text=True)
            plan = json.loads(planned.stdout.splitlines()[0])
            subprocess.run([converter, "-r", str(dpi), "-o", out, doc], check=True,
                           stdout=subprocess.DEVNULL)
            real = sum(f.stat().st_size for f in out.iterdir())
            ratio = plan["estimated_bytes"] / real
            print(f"{doc.name}@{dpi}: estimate {plan['estimated_bytes'] / 1e6:.1f} MB from "
                  f"{plan['sampled_pages']} pages, written {real / 1e6:.1f} MB, "
                  f"ratio {ratio:.3f} (target within 15 %)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--converter", type=Path)
    parser.add_argument("--rounds", type=int, default=21)
    args = parser.parse_args()
    converter = args.converter or build(ROOT)
    out = Path(tempfile.mkdtemp(prefix="brightleaf-core-", dir="/dev/shm"))
    try:
        refman = MANUALS / "refman.pdf"
        peaks = {}
        for helpers in (1, 2):
            runs = [main_peak_mb([converter, "-j", str(helpers), "--dpi", "72", "--existing",
                                  "replace", "-o", out, refman]) for _ in range(3)]
            peaks[helpers] = statistics.median(runs)
            print(f"refman@72, all pages, -j {helpers}: main process peak "
                  f"{peaks[helpers]:.1f} MB (runs: {', '.join(f'{r:.1f}' for r in runs)})")
        print(f"  ratio 2 helpers / 1 helper: {peaks[2] / peaks[1]:.2f} (target <= 1.5)")
        shutil.rmtree(out)
        out.mkdir()

        intro = MANUALS / "R-intro.pdf"
        ours = [converter, "--dpi", "150", "--pages", "1", "--existing", "replace", "-o", out,
                intro]
        theirs = ["pdftoppm", "-r", "150", "-f", "1", "-l", "1", "-jpeg", intro, out / "p"]
        times = {"ours": [], "pdftoppm": []}
        for _ in range(3):  # warm the page cache and the libraries
            wall_ms(ours), wall_ms(theirs)
        for _ in range(args.rounds):
            times["ours"].append(wall_ms(ours))
            times["pdftoppm"].append(wall_ms(theirs))
        mine, other = (statistics.median(times[k]) for k in ("ours", "pdftoppm"))
        print(f"R-intro@150, page 1, whole process: ours {mine:.1f} ms, pdftoppm {other:.1f} ms "
              f"(medians of {args.rounds}); ratio {mine / other:.2f} (target <= 1.2)")
        estimate_rows(converter, out)
    finally:
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
