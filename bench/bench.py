#!/usr/bin/env python3
"""Times brightleaf-convert against pdftoppm and Ghostscript on fixed documents.

Every page of each document is converted at each DPI, quality 90, by each tool in
turn, under /usr/bin/time -v. Prints the speed table, the render/encode overlap
check from brightleaf-convert's JSON output, and the PSNR between brightleaf's and
pdftoppm's images of a few pages. Called by bench/run, which sets everything up.
"""

import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

TOOLS = ("brightleaf", "pdftoppm", "gs")

# The goals this benchmark checks.
TARGET_SPEEDUP = 2.0  # brightleaf's pages/s over pdftoppm's, text document, 150 DPI
TARGET_OVERLAP = 1.15  # wall / max(summed render, summed encode)
TARGET_PEAK_MB = 150.0  # brightleaf's peak RSS, A4 document, 300 DPI


def package_file(package, pattern):
    """The first file of an installed Debian package whose path matches `pattern`."""
    listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=True)
    for line in listing.stdout.splitlines():
        if re.search(pattern, line) and os.path.isfile(line):
            return os.path.realpath(line)
    sys.exit(f"bench: {package} holds no file matching {pattern}")


def documents():
    return [
        {
            "name": "R-intro",
            "kind": "text, Letter",
            "path": package_file("r-doc-pdf", r"/R-intro\.pdf$"),
        },
        {
            "name": "freedombox-manual",
            "kind": "screenshots, A4",
            "path": package_file("freedombox-doc-en", r"/freedombox-manual\.pdf$"),
        },
    ]


def page_count(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
    return int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))


def command(tool, converter, pdf, dpi, out):
    if tool == "brightleaf":
        return [converter, "--json", "-o", str(out), "-r", str(dpi), "-q", "90", pdf]
    if tool == "pdftoppm":
        return ["pdftoppm", "-jpeg", "-jpegopt", "quality=90", "-r", str(dpi), pdf,
                str(out / "page")]
    return ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=jpeg", "-dJPEGQ=90", f"-r{dpi}",
            f"-sOutputFile={out}/%04d.jpg", pdf]


def peak_rss_kb(time_report):
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", time_report)
    return int(match.group(1)) if match else 0


def run_once(tool, converter, doc, dpi, out_root, work):
    out = out_root / doc["name"] / str(dpi) / tool
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    stem = f"{doc['name']}-{dpi}-{tool}"
    time_file = work / f"{stem}.time"
    stdout_file = work / f"{stem}.stdout"
    cmd = command(tool, converter, doc["path"], dpi, out)
    with open(stdout_file, "wb") as stdout:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-v", "-o", str(time_file)] + cmd,
                              stdout=stdout, stderr=subprocess.PIPE)
        wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"bench: {' '.join(cmd)} failed ({proc.returncode}):\n"
                 f"{proc.stderr.decode(errors='replace')}")
    images = [p for p in out.iterdir() if p.suffix == ".jpg"]
    run = {
        "tool": tool,
        "document": doc["name"],
        "dpi": dpi,
        "pages": len(images),
        "wall_s": wall,
        "peak_rss_mb": peak_rss_kb(time_file.read_text()) / 1024.0,
        "output_mb": sum(p.stat().st_size for p in images) / (1024.0 * 1024.0),
    }
    if tool == "brightleaf":
        jobs = [json.loads(line) for line in stdout_file.read_text().splitlines() if line]
        pages = [p for job in jobs for p in job["result"]["page_results"]]
        run["render_s"] = sum(p["render_ms"] for p in pages) / 1000.0
        run["encode_s"] = sum(p["encode_ms"] for p in pages) / 1000.0
        run["pipeline_s"] = pipeline_bound(pages)
    return run


def pipeline_bound(pages):
    """The shortest wall time a one-page-ahead pipeline could reach with these
    per-page times: page i+1 renders while page i encodes, so each step lasts
    as long as the slower of the two, and nothing overlaps the first render and
    the last encode."""
    if not pages:
        return 0.0
    total = pages[0]["render_ms"] + pages[-1]["encode_ms"]
    for before, after in zip(pages, pages[1:]):
        total += max(before["encode_ms"], after["render_ms"])
    return total / 1000.0


def median_run(runs):
    """The run with the median wall time, so that its other figures belong to it."""
    ordered = sorted(runs, key=lambda r: r["wall_s"])
    return ordered[(len(ordered) - 1) // 2]


# --- PSNR ----------------------------------------------------------------------


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


def psnr_rows(docs, out_root, dpi, wanted):
    rows = []
    for doc in docs:
        ours = numbered_images(out_root / doc["name"] / str(dpi) / "brightleaf")
        theirs = numbered_images(out_root / doc["name"] / str(dpi) / "pdftoppm")
        for page in wanted:
            if page not in ours or page not in theirs:
                continue
            a = parse_pnm(decode_to_pnm(ours[page]))
            b = parse_pnm(decode_to_pnm(theirs[page]))
            value, width, height = psnr(a, b)
            # pdftoppm's JPEG against its own lossless rendering: the loss that
            # JPEG alone causes, to set the difference between renderers against.
            lossless = subprocess.run(["pdftoppm", "-r", str(dpi), "-f", str(page), "-l",
                                       str(page), doc["path"]], capture_output=True,
                                      check=True).stdout
            encoding_only, _, _ = psnr(b, parse_pnm(lossless))
            rows.append({"document": doc["name"], "dpi": dpi, "page": page,
                         "brightleaf_px": f"{a[0]}x{a[1]}", "pdftoppm_px": f"{b[0]}x{b[1]}",
                         "compared_px": f"{width}x{height}", "psnr_db": value,
                         "pdftoppm_jpeg_vs_ppm_db": encoding_only})
    return rows


# --- Report --------------------------------------------------------------------


def machine_description(converter):
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

    def first_line(cmd):
        proc = subprocess.run(cmd, capture_output=True, text=True)
        return (proc.stdout or proc.stderr).strip().splitlines()[0]

    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "memory_gib": round(mem_kb / 1024 / 1024, 1),
        "os": os_name,
        "brightleaf": " / ".join(subprocess.run([converter, "--version"], capture_output=True,
                                                text=True).stdout.split("\n")[:3]),
        "pdftoppm": first_line(["pdftoppm", "-v"]),
        "gs": "Ghostscript " + first_line(["gs", "--version"]),
    }


def table(headers, rows):
    widths = [max(len(h), *(len(r[i]) for r in rows)) if rows else len(h)
              for i, h in enumerate(headers)]
    lines = ["| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for row in rows:
        lines.append("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    return "\n".join(lines)


def report(runs, psnr_results, machine, repeat):
    out = []
    out.append(f"Date: {datetime.date.today().isoformat()}")
    out.append(f"Machine: {machine['cpu']}, {machine['cores']} cores, "
               f"{machine['memory_gib']} GiB, {machine['os']}")
    out.append(f"Tools: {machine['brightleaf']}; {machine['pdftoppm']}; {machine['gs']}")
    out.append(f"Each figure is the median of {repeat} run(s).")
    out.append("")

    by_key = {(r["tool"], r["document"], r["dpi"]): r for r in runs}
    rows = []
    for r in runs:
        pps = r["pages"] / r["wall_s"]
        ours = by_key[("brightleaf", r["document"], r["dpi"])]
        ratio = (ours["pages"] / ours["wall_s"]) / pps
        rows.append([r["tool"], r["document"], str(r["dpi"]), str(r["pages"]),
                     f"{r['wall_s']:.2f}", f"{pps:.1f}",
                     "-" if r["tool"] == "brightleaf" else f"{ratio:.2f}",
                     f"{r['peak_rss_mb']:.0f}", f"{r['output_mb']:.1f}"])
    out.append("Speed (brightleaf ratio = brightleaf's pages/s divided by the tool's):")
    out.append("")
    out.append(table(["tool", "document", "DPI", "pages", "wall s", "pages/s",
                      "brightleaf ratio", "peak RSS MiB", "output MiB"], rows))
    out.append("")

    rows = []
    for r in runs:
        if r["tool"] != "brightleaf":
            continue
        busiest = max(r["render_s"], r["encode_s"])
        rows.append([r["document"], str(r["dpi"]), f"{r['wall_s']:.2f}",
                     f"{r['render_s']:.2f}", f"{r['encode_s']:.2f}",
                     f"{r['wall_s'] / busiest:.2f}" if busiest > 0 else "-",
                     f"{r['pipeline_s']:.2f}",
                     f"{r['wall_s'] / r['pipeline_s']:.2f}" if r["pipeline_s"] > 0 else "-"])
    out.append("Overlap of rendering and encoding (brightleaf-convert's own timings; the "
               "pipeline bound is the best a one-page-ahead overlap can do with the same "
               "per-page times):")
    out.append("")
    out.append(table(["document", "DPI", "wall s", "sum render s", "sum encode s",
                      "wall / max(render, encode)", "pipeline bound s",
                      "wall / pipeline bound"], rows))
    out.append("")

    def db(value):
        return "inf" if math.isinf(value) else f"{value:.2f}"

    rows = [[p["document"], str(p["dpi"]), str(p["page"]), p["brightleaf_px"],
             p["pdftoppm_px"], db(p["psnr_db"]), db(p["pdftoppm_jpeg_vs_ppm_db"])]
            for p in psnr_results]
    out.append("PSNR between brightleaf's and pdftoppm's JPEG of the same page, over the "
               "area both cover; beside it, pdftoppm's JPEG against pdftoppm's lossless "
               "rendering (the loss from JPEG alone):")
    out.append("")
    out.append(table(["document", "DPI", "page", "brightleaf px", "pdftoppm px",
                      "PSNR dB", "pdftoppm JPEG vs PPM dB"], rows))
    out.append("")

    checks = []
    text = by_key.get(("brightleaf", "R-intro", 150)), by_key.get(("pdftoppm", "R-intro", 150))
    if all(text):
        speedup = (text[0]["pages"] / text[0]["wall_s"]) / (text[1]["pages"] / text[1]["wall_s"])
        checks.append((f"R-intro at 150 DPI: {speedup:.2f} x pdftoppm's pages/s "
                       f"(goal >= {TARGET_SPEEDUP})", speedup >= TARGET_SPEEDUP))
    for r in runs:
        if r["tool"] == "brightleaf" and max(r["render_s"], r["encode_s"]) > 0:
            overlap = r["wall_s"] / max(r["render_s"], r["encode_s"])
            checks.append((f"{r['document']} at {r['dpi']} DPI: wall / max = {overlap:.2f} "
                           f"(goal <= {TARGET_OVERLAP})", overlap <= TARGET_OVERLAP))
    a4 = by_key.get(("brightleaf", "freedombox-manual", 300))
    if a4:
        checks.append((f"freedombox-manual at 300 DPI: peak RSS {a4['peak_rss_mb']:.0f} MiB "
                       f"(goal < {TARGET_PEAK_MB:.0f})", a4["peak_rss_mb"] < TARGET_PEAK_MB))
    out.append("Goals:")
    out.append("")
    for text_line, ok in checks:
        out.append(f"- {'met' if ok else 'MISSED'}: {text_line}")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--converter", required=True, help="path of brightleaf-convert")
    parser.add_argument("--work", type=Path, required=True, help="folder for logs and results")
    parser.add_argument("--out", type=Path, required=True, help="folder for the images")
    parser.add_argument("--dpi", type=int, nargs="+", default=[150, 300])
    parser.add_argument("--repeat", type=int, default=1,
                        help="runs per tool, document and DPI; the median is reported")
    parser.add_argument("--psnr-pages", type=int, nargs="+", default=[1, 10, 50])
    parser.add_argument("--psnr-dpi", type=int, default=150)
    args = parser.parse_args()

    args.work.mkdir(parents=True, exist_ok=True)
    docs = documents()
    for doc in docs:
        doc["pages"] = page_count(doc["path"])
        print(f"bench: {doc['name']} ({doc['kind']}, {doc['pages']} pages): {doc['path']}",
              flush=True)

    runs = []
    for doc in docs:
        for dpi in args.dpi:
            # The tools take turns within each round, so that a busy moment on the
            # machine does not fall on one tool's runs only.
            attempts = {tool: [] for tool in TOOLS}
            for _ in range(args.repeat):
                for tool in TOOLS:
                    attempt = run_once(tool, args.converter, doc, dpi, args.out, args.work)
                    if attempt["pages"] != doc["pages"]:
                        sys.exit(f"bench: {tool} wrote {attempt['pages']} of {doc['pages']} "
                                 f"pages of {doc['name']} at {dpi} DPI")
                    attempts[tool].append(attempt)
            for tool in TOOLS:
                run = median_run(attempts[tool])
                run["walls_s"] = [a["wall_s"] for a in attempts[tool]]
                runs.append(run)
                print(f"bench: {tool:10} {doc['name']:18} {dpi:3} DPI  "
                      f"{' '.join(f'{w:.2f}' for w in run['walls_s'])} s", flush=True)

    psnr_results = []
    if args.psnr_dpi in args.dpi:
        print("bench: comparing images", flush=True)
        psnr_results = psnr_rows(docs, args.out, args.psnr_dpi, args.psnr_pages)

    machine = machine_description(args.converter)
    text = report(runs, psnr_results, machine, args.repeat)
    (args.work / "results.md").write_text(text)
    (args.work / "results.json").write_text(json.dumps(
        {"machine": machine, "runs": runs,
         "psnr": [{k: None if isinstance(v, float) and math.isinf(v) else v
                   for k, v in p.items()} for p in psnr_results],
         "date": datetime.date.today().isoformat()}, indent=2, default=str))
    print()
    print(text, end="")


if __name__ == "__main__":
    main()
