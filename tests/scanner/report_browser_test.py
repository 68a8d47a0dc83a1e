#!/usr/bin/env python3
"""kestrafin-scan report's page in headless Chromium: it renders with no
console message (the page's policy would log any load or script it blocks),
the hostile names stay text, and the figures shown are the records'.

KESTRAFIN_SCAN names the scanner; KESTRAFIN_CHROMIUM, when set, the browser
in place of chromium; KESTRAFIN_REPORT_SHOTS, when set, a folder for the
screenshots at desktop and laptop sizes. Skipped, with the reason,
where Debian's chromium is not installed.
"""
import html
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))
import record_generator  # noqa: E402

SCAN = os.environ.get("KESTRAFIN_SCAN", "kestrafin-scan")
CHROMIUM = shutil.which(os.environ.get("KESTRAFIN_CHROMIUM", "chromium"))
SIZES = [(1920, 1080), (1366, 768)]


def chromium(*arguments):
    """Runs headless Chromium; gives its standard output and its console lines."""
    done = subprocess.run(
        [CHROMIUM, "--headless", "--disable-gpu", "--no-sandbox", "--hide-scrollbars",
         "--enable-logging=stderr", "--v=0", *arguments],
        capture_output=True, timeout=120, check=True)
    # Chromium's own pages (chrome://) log too, as a slow machine shows; only
    # what the page itself logs counts.
    console = [line for line in done.stderr.decode(errors="replace").splitlines()
               if ":CONSOLE" in line and "source: chrome://" not in line]
    return done.stdout.decode(errors="replace"), console


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


@unittest.skipIf(CHROMIUM is None, "chromium is not installed (on Debian: apt-get install chromium)")
class ReportInChromium(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kestrafin-report-")
        self.addCleanup(shutil.rmtree, self.folder)

    def test_the_page_renders_quietly_and_shows_the_records_figures(self):
        records = []
        counts = []
        for week in range(3):
            records.append(os.path.join(self.folder, "fs01-week%d.jsonl" % week))
            counts.append(record_generator.generate(
                records[-1], "fs01", ["/srv/hr", "/srv/finance"], 400, week=week, fixed=60,
                new=15, hostile=True,
                # The first week's scan had another path rule: noted, still shown.
                path_longer_than=300 if week == 0 else record_generator.PATH_LONGER_THAN))
        records.append(os.path.join(self.folder, "fs02.jsonl"))
        record_generator.generate(records[-1], "<b>fs02</b>", ["D:/data"], 120)
        page = os.path.join(self.folder, "report.html")
        done = subprocess.run([SCAN, "report", *records, "-o", page], capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b"fs01-week0.jsonl was scanned with other rules than", done.stderr)

        with open(page, encoding="utf-8") as read:
            source = read.read()  # valid UTF-8, or this raises
        self.assertNotIn("<script", source.lower())
        self.assertNotIn("\u202e", source)

        dom, console = chromium("--dump-dom", "file://" + page)
        self.assertEqual(console, [])
        self.assertNotIn("<script", dom.lower(), "a hostile name became markup")
        self.assertIn("&lt;script&gt;alert(1)&lt;/script&gt;", dom)
        self.assertIn("&lt;b&gt;fs02&lt;/b&gt;", dom)
        self.assertIn("bad\ufffd byte", dom)
        self.assertIn("path_longer_than differ", dom)
        entries = [int(n) for n in re.findall(r"entries: <b>(\d+)</b>", dom)]
        # fs01: its two roots' total, then each root; then fs02's one root,
        # after the total of all hosts.
        self.assertEqual(entries, [sum(counts[2]) + 120, sum(counts[2]), *counts[2], 120])
        diffs = re.findall(r'<span class="fixed">(\d+) fixed</span>, '
                           r'<span class="new">(\d+) new</span>', dom)
        self.assertEqual(diffs, [("120", "30"), ("60", "15"), ("60", "15")])
        self.assertIn(">%d<" % sum(counts[0]), dom, "the burn-down's first point")

        for width, height in SIZES:
            shot = os.path.join(os.environ.get("KESTRAFIN_REPORT_SHOTS", self.folder),
                                "report-%dx%d.png" % (width, height))
            _, console = chromium("--window-size=%d,%d" % (width, height),
                                  "--screenshot=" + shot, "file://" + page)
            self.assertEqual(console, [])
            self.assertEqual(png_size(shot), (width, height))

    def test_the_console_check_hears_a_blocked_load(self):
        """The check above would hear the page's policy refuse anything."""
        page = os.path.join(self.folder, "loads.html")
        record = os.path.join(self.folder, "r.jsonl")
        record_generator.generate(record, "h", ["/r"], 5)
        subprocess.run([SCAN, "report", record, "-o", page], check=True)
        with open(page, encoding="utf-8") as read:
            source = read.read()
        with open(page, "w", encoding="utf-8") as write:
            write.write(source.replace("<main>", '<main><img src="https://example.invalid/x.png">'))
        _, console = chromium("--dump-dom", "file://" + page)
        self.assertTrue(any("Content Security Policy" in line for line in console), console)


if __name__ == "__main__":
    unittest.main(verbosity=2)
