#!/usr/bin/env python3
"""Real documentation pages as the app's web viewer shows them, beside headless Chromium.

Each page's first screen is drawn by the app (realpage_shot: the page opened from Documents as
a person opens it, in the web view's own size on the phone and in the pad's sheet) and by
Chromium at the same size and scale; tesseract reads both, and the score of a page is the share
of the words read in Chromium's picture (lower case, letters and digits, three or more) that are
also read in Vesk's, each word counted as often as it occurs. Worst pages first, then the mean,
the median and how many score under 0.8 on each screen.

Run by hand from the checkout, never from ctest (it takes a few minutes):

    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_BUILD_BENCH=ON
    cmake --build build/release --target vesk-renderer realpage_shot
    python3 bench/realpages/realpages.py [--screens phone,pad] [--only cmake,sqlite] [--words]

It installs with apt-get (through sudo when not root) the OCR and the documentation packages it
reads when they are missing. The pictures and a copy of each manual (in the app's Documents, so
that pages read their style sheets from their manual's folders) go to --out, /tmp/vesk-realpages
unless named.
"""

import argparse
import collections
import concurrent.futures
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import urllib.parse

# Manual: (package, its folder, the generator that made it).
MANUALS = {
    "python": ("python3-doc", "/usr/share/doc/python3.11/html", "Sphinx (pydoctheme)"),
    "cmake": ("cmake-doc", "/usr/share/doc/cmake-data/html", "Sphinx (classic)"),
    "postgresql": ("postgresql-doc-15", "/usr/share/doc/postgresql-doc-15/html", "DocBook XSL"),
    "git": ("git-doc", "/usr/share/doc/git-doc", "AsciiDoc"),
    "sqlite": ("sqlite3-doc", "/usr/share/doc/sqlite3", "SQLite's own"),
    "gnuplot": ("gnuplot-doc", "/usr/share/doc/gnuplot/htmldocs", "LaTeX2HTML"),
    "debian-faq": ("debian-faq", "/usr/share/doc/debian/FAQ", "DebianDoc-SGML"),
    "nodejs": ("nodejs", "/usr/share/doc/nodejs/api", "Node.js doc tool"),
    "valgrind": ("valgrind", "/usr/share/doc/valgrind/html", "DocBook XSL"),
    "gsf": ("libgsf-1-dev", "/usr/share/doc/libgsf-1-dev/html", "gtk-doc"),
    "libffi": ("libffi-dev", "/usr/share/doc/libffi8/html", "Texinfo"),
    "bc": ("bc", "/usr/share/doc/bc", "Texinfo"),
    "nettle": ("nettle-dev", "/usr/share/doc/nettle-dev", "Texinfo"),
    "ccache": ("ccache", "/usr/share/doc/ccache", "Asciidoctor"),
    "ninja": ("ninja-build", "/usr/share/doc/ninja-build", "DocBook XSL"),
    "bzip2": ("bzip2-doc", "/usr/share/doc/bzip2", "DocBook XSL"),
    "libxslt": ("libxslt1-dev", "/usr/share/doc/libxslt1-dev/html", "libxslt's own"),
}

PAGES = {
    "python": ["index.html", "tutorial/introduction.html", "library/functions.html", "library/os.html", "reference/datamodel.html"],
    "cmake": ["index.html", "manual/cmake.1.html", "command/add_library.html", "guide/tutorial/index.html", "module/FindPython.html"],
    "postgresql": ["index.html", "datatype-numeric.html", "sql-select.html", "tutorial-start.html", "functions-string.html"],
    "git": ["git.html", "git-commit.html", "gittutorial.html", "user-manual.html"],
    "sqlite": ["index.html", "lang_select.html", "datatype3.html", "windowfunctions.html", "quickstart.html"],
    "gnuplot": ["index.html", "node100.html"],
    "debian-faq": ["index.html", "basic-defs.html", "pkg-basics.html"],
    "nodejs": ["index.html", "fs.html"],
    "valgrind": ["quick-start.html", "manual-core.html"],
    "gsf": ["gsf/index.html", "gsf/gsf-Zip.html"],
    "libffi": ["Introduction.html"],
    "bc": ["bc.html"],
    "nettle": ["nettle.html"],
    "ccache": ["manual.html"],
    "ninja": ["manual.html"],
    "bzip2": ["manual.html"],
    "libxslt": ["index.html"],
}

SCREENS = {"phone": "375x667@2", "pad": "768x1024@2"}
TOOLS = {"tesseract": "tesseract-ocr", "chromium": "chromium"}


def installed(package):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
    return result.returncode == 0 and "install ok installed" in result.stdout


def install_missing(packages):
    missing = sorted(p for p in set(packages) if not installed(p))
    if not missing:
        return
    print("installing " + " ".join(missing), flush=True)
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "--no-install-recommends"] + missing, check=True, env=env)


def copy_manual(name, documents):
    """The manual whole in Documents (its links followed), made once and kept for later runs."""
    target = os.path.join(documents, name)
    if not os.path.isdir(target):
        # Links that lead nowhere are left out (copytree would judge a relative one from here).
        def dangling(folder, names):
            return [n for n in names if os.path.islink(os.path.join(folder, n)) and not os.path.exists(os.path.join(folder, n))]

        shutil.rmtree(target + ".part", ignore_errors=True)
        shutil.copytree(MANUALS[name][1], target + ".part", symlinks=False, ignore=dangling)
        os.rename(target + ".part", target)
    return target


def shoot_vesk(shot, home, screen, folder, pages):
    """The app's pictures of the pages: {page: (png, width, height, scale)} for those drawn."""
    os.makedirs(folder, exist_ok=True)
    env = dict(os.environ, VESK_HOME=home)
    result = subprocess.run([shot, screen, folder] + pages, env=env, capture_output=True, text=True, timeout=60 * len(pages) + 60)
    lines = [line.split("\t") for line in result.stdout.splitlines() if line.count("\t") == 4]
    if len(lines) != len(pages):
        sys.stderr.write(result.stderr[-4000:])
    shots = {}
    for page, fields in zip(pages, lines):
        png, width, height, scale, outcome = fields
        if outcome == "drawn":
            shots[page] = (png, float(width), float(height), float(scale))
        else:
            print(f"vesk drew nothing for {page}", file=sys.stderr)
    return shots


def shoot_chromium(page, png, width, height, scale):
    # Its screen is the view, as the app's pages see theirs (headless Chromium's own is 800 x 600
    # pixels, which answers media queries on the device's width otherwise).
    with tempfile.TemporaryDirectory(prefix="vesk-realpages-chromium-") as profile:
        command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}", f"--window-size={int(width)},{int(height)}",
                   f"--force-device-scale-factor={scale:g}", f"--screen-info={{{int(width * scale)}x{int(height * scale)}}}", "--hide-scrollbars",
                   f"--screenshot={png}", "file://" + urllib.parse.quote(page)]
        subprocess.run(command, capture_output=True, timeout=120)
    return os.path.exists(png)


def words(png):
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    result = subprocess.run(["tesseract", png, "stdout", "-l", "eng", "--psm", "3"], capture_output=True, text=True, env=env, timeout=300)
    found = []
    for word in result.stdout.split():
        word = re.sub(r"[^0-9a-z]", "", word.lower())
        if len(word) >= 3:
            found.append(word)
    return collections.Counter(found)


def score(chromium, vesk):
    total = sum(chromium.values())
    if total == 0:
        return 1.0, []
    missed = chromium - vesk
    return 1 - sum(missed.values()) / total, sorted(missed.elements())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    checkout = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--build", default=os.path.join(checkout, "build/release"), help="the build folder with realpage_shot")
    parser.add_argument("--out", default="/tmp/vesk-realpages", help="where the pictures and the app's home go")
    parser.add_argument("--screens", default="phone,pad", help="phone, pad or both")
    parser.add_argument("--only", default="", help="manuals to read, comma-separated (all unless named)")
    parser.add_argument("--jobs", type=int, default=3, help="Chromium and tesseract runs at once")
    parser.add_argument("--words", action="store_true", help="list the words Vesk's picture lacks")
    parser.add_argument("--no-install", action="store_true", help="install nothing; leave out what is missing")
    options = parser.parse_args()

    manuals = [m for m in options.only.split(",") if m] or list(PAGES)
    for manual in manuals:
        if manual not in PAGES:
            parser.error(f"no manual {manual}; these are known: {', '.join(PAGES)}")
    if not options.no_install:
        install_missing([MANUALS[m][0] for m in manuals] + ["tesseract-ocr", "tesseract-ocr-eng", "chromium"])
    for tool in TOOLS:
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing (package {TOOLS[tool]})")
    shot = os.path.join(options.build, "bench/realpages/realpage_shot")
    if not os.access(shot, os.X_OK):
        sys.exit(f"{shot} is missing: build the target realpage_shot (and vesk-renderer) with -DVESK_BUILD_BENCH=ON")

    home = os.path.join(options.out, "home")
    documents = os.path.join(home, "Documents")
    os.makedirs(documents, exist_ok=True)
    pages = []
    for manual in manuals:
        if not os.path.isdir(MANUALS[manual][1]):
            print(f"leaving out {manual}: {MANUALS[manual][1]} is missing", file=sys.stderr)
            continue
        root = copy_manual(manual, documents)
        pages += [(manual, page, os.path.join(root, page)) for page in PAGES[manual] if os.path.exists(os.path.join(root, page))]

    rows = []
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs))
    for screen_name in [s for s in options.screens.split(",") if s]:
        screen = SCREENS.get(screen_name)
        if not screen:
            parser.error(f"no screen {screen_name}: phone or pad")
        folder = os.path.join(options.out, screen_name)
        shots = shoot_vesk(shot, home, screen, os.path.join(folder, "vesk"), [path for _, _, path in pages])
        os.makedirs(os.path.join(folder, "chromium"), exist_ok=True)

        def compare(entry):
            manual, page, path = entry
            if path not in shots:
                return None
            png, width, height, scale = shots[path]
            theirs = os.path.join(folder, "chromium", os.path.basename(png))
            if not shoot_chromium(path, theirs, width, height, scale):
                print(f"chromium drew nothing for {path}", file=sys.stderr)
                return None
            value, missed = score(words(theirs), words(png))
            return (value, screen_name, f"{manual}/{page}", f"{width:g}x{height:g}@{scale:g}", png, theirs, missed)

        rows += [row for row in pool.map(compare, pages) if row]
    pool.shutdown()

    rows.sort(key=lambda row: (row[0], row[2]))
    print(f"{'score':>6}  {'screen':6} {'view':12} page  (vesk picture, chromium picture)")
    for value, screen_name, page, size, ours, theirs, missed in rows:
        print(f"{value:6.3f}  {screen_name:6} {size:12} {page}  ({ours}, {theirs})")
        if options.words and missed:
            print("        not read in vesk's: " + " ".join(missed[:40]) + (" ..." if len(missed) > 40 else ""))
    print()
    generators = {MANUALS[m][2] for m, _, _ in pages}
    print(f"{len(pages)} pages from {len(generators)} generators: {', '.join(sorted(generators))}")
    for screen_name in [s for s in options.screens.split(",") if s] + ["all"]:
        values = [row[0] for row in rows if screen_name in (row[1], "all")]
        if values:
            print(f"{screen_name:6} {len(values):3} pages: mean {statistics.mean(values):.3f}, median {statistics.median(values):.3f}, "
                  f"{sum(v < 0.8 for v in values)} under 0.8")


if __name__ == "__main__":
    main()
