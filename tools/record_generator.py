#!/usr/bin/env python3
"""Writes scan records (docs/record-format.md) of made-up trees, for the
report's benchmark and tests.

    tools/record_generator.py OUT --host fs01 --roots /srv/a,/srv/b \\
        --entries 100000 [--week W] [--fixed N] [--new N] [--hostile]

Each root gets the entries numbered from W*fixed to entries+W*new (so each
week fixes `fixed` entries and adds `new` ones), below folders whose lengths
vary from 200 to about 350 units, with reasons worked out from the lengths
and names as the scanner's rules judge them. --hostile names the roots and
some entries with markup, quotes, a direction override and bytes that are no
UTF-8 (written as U+FFFD with the exact bytes in base64). The root and end
lines' figures are those of the lines written.
"""
import argparse
import base64
import datetime
import hashlib
import json
import os

REASONS = ["folder_length", "path_length", "name_length", "invalid_character"]
FOLDER_LONGER_THAN = 200
PATH_LONGER_THAN = 259
NOT_ENTERED = ["cycle", "link_web", "kernel_file_system", "other_machine", "offline", "link",
               "other_volume", "system_folder", "too_many_links"]
HOSTILE_NAMES = [b"<script>alert(1)</script>", b"R&D \"x\" 'y'", b"invoice\xe2\x80\xaetxt.exe",
                 b"bad\xff byte"]


def utf16_length(data):
    """Units of a path as the scanner counts them: one per invalid byte."""
    text = data.decode("utf-8", "surrogateescape")
    return sum(2 if ord(c) > 0xFFFF else 1 for c in text)


def text_fields(key, data):
    """The JSON fields of a text: its text form, and its bytes where it is
    not valid UTF-8."""
    try:
        return {key: data.decode("utf-8")}
    except UnicodeDecodeError:
        # Each bad byte becomes one U+FFFD: the generator uses lone bad bytes.
        shown = data.decode("utf-8", "replace")
        return {key: shown, key + "_base64": base64.b64encode(data).decode("ascii")}


def entry_names(index, hostile):
    """The folder and file name below the root of entry `index`."""
    department = index % 7
    project = (index // 7) % 13
    depth = 200 + (index * 7919) % 150
    filler = ("Quarterly reports and their very long folder names " * 12)[:depth]
    folder = "dept%d/project %d/%s" % (department, project, filler.rstrip())
    name = "file %d.txt" % index
    if index % 50 == 0:
        name = "x" * 250 + name
    if index % 13 == 0:
        name = "a:b " + name
    folder = folder.encode()
    name = name.encode()
    # Under a folder of bytes that are no UTF-8, holding more entries than any
    # other, so that its name is among the folders where to act.
    if hostile and index % 5 == 0:
        folder = HOSTILE_NAMES[3] + b"/" + HOSTILE_NAMES[(index // 5) % 3] + b"/" + folder
    return folder, name


class FoldersToActOn:
    """The folders below a root with the most entries past a length rule, as
    the scanner's summary picks them (scan/sinks/summary.h), which the record
    reader checks a root line's list against: every folder from the first
    below the root down to the entry's own counts it, with the most units it
    must lose for all of them to fit; most entries first, then fewest units,
    then by path, ten at most."""

    def __init__(self, path_longer_than):
        self.path_longer_than = path_longer_than
        self.folders = {}

    def add(self, root, path, folder_length, path_length, reasons):
        excess = 0
        if "path_length" in reasons and self.path_longer_than is not None:
            excess = max(0, path_length - self.path_longer_than)
        if "folder_length" in reasons:
            excess = max(excess, folder_length - FOLDER_LONGER_THAN)
        if excess <= 0:
            return
        separator = os.sep.encode()
        slashed_root = root if root.endswith(separator) else root + separator
        folder = path[:path.rfind(separator)] if separator in path else path
        for end in range(len(slashed_root), len(folder) + 1):
            if end == len(folder) or folder[end:end + 1] == separator:
                kept = self.folders.setdefault(folder[:end], [0, 0])
                kept[0] += 1
                kept[1] = max(kept[1], excess)
        self.root = slashed_root

    def best(self):
        ranked = sorted(self.folders.items(), key=lambda item: (-item[1][0], item[1][1], item[0]))
        return [(path[len(self.root):], figures) for path, figures in ranked[:10]]


def generate(out, host, roots, entries, week=0, fixed=0, new=0, hostile=False,
             started=None, separator=b"/", path_longer_than=PATH_LONGER_THAN):
    """Writes the record; gives each root's entries, as its root line has them."""
    started = started or (datetime.datetime(2026, 11, 2, 2, 0, 0) +
                          datetime.timedelta(days=7 * week))
    scan_id = hashlib.sha256(("%s %s %d" % (host, roots, week)).encode()).hexdigest()[:32]
    started_text = started.strftime("%Y-%m-%dT%H:%M:%SZ")
    root_bytes = [root.encode("utf-8", "surrogateescape") if isinstance(root, str) else root
                  for root in roots]
    if hostile:
        # The scan line's roots are texts: no bad bytes in them.
        root_bytes = [root + b"/" + HOSTILE_NAMES[i % 3] for i, root in enumerate(root_bytes)]
    shown_roots = [text_fields("root", root)["root"] for root in root_bytes]

    lines = []

    def line(fields):
        fields["scan_id"] = scan_id
        lines.append(json.dumps(fields, ensure_ascii=False, separators=(",", ":")))

    scan = {"kind": "scan", "format": 1, "program": "kestrafin-scan", "version": "1.0.0",
            "host": host, "user": "scanner", "started": started_text, "roots": shown_roots,
            "rules": {"folder_longer_than": FOLDER_LONGER_THAN,
                      "path_longer_than": path_longer_than},
            "checks": [], "reasons": REASONS, "excludes": [], "threads": 4,
            "follow_links": True, "one_file_system": False, "include_offline": False}
    line(scan)
    counts = []
    for root in root_bytes:
        by_reason = dict.fromkeys(REASONS, 0)
        act_on = FoldersToActOn(path_longer_than)
        count = 0
        # In an order a walk could give: the entries below any folder together.
        indices = sorted(range(week * fixed, entries + week * new),
                         key=lambda index: b"/".join(entry_names(index, hostile)))
        for index in indices:
            folder, name = entry_names(index, hostile)
            relative = folder + separator + name
            path = root + separator + relative
            folder_length = utf16_length(root + separator + folder)
            path_length = utf16_length(path)
            reasons = []
            if folder_length > FOLDER_LONGER_THAN:
                reasons.append("folder_length")
            if path_longer_than is not None and path_length > path_longer_than:
                reasons.append("path_length")
            if utf16_length(name) > 255:
                reasons.append("name_length")
            if b":" in name:
                reasons.append("invalid_character")
            for reason in reasons:
                by_reason[reason] += 1
            fields = {"kind": "file"}
            fields.update(text_fields("root", root))
            fields.update(text_fields("relative_path", relative))
            fields.update(text_fields("path", path))
            fields.update({"folder_length": folder_length, "path_length": path_length,
                           "reasons": reasons})
            line(fields)
            count += 1
            act_on.add(root, path, folder_length, path_length, reasons)
        best = act_on.best()
        root_line = {"kind": "root", "end": "complete", "exit_status": 0,
                     "folders_read": count // 3 + 1, "files_seen": count * 4,
                     "entries": count, "entries_by_reason": by_reason, "unreadable": 0,
                     "not_entered": dict.fromkeys(NOT_ENTERED, 0),
                     "folders_to_act_on": [
                         dict(text_fields("relative_path", folder), entries=figures[0],
                              units_to_lose=figures[1]) for folder, figures in best],
                     "seconds": 1.5}
        root_line.update(text_fields("root", root))
        line(root_line)
        counts.append(count)
    finished = started + datetime.timedelta(minutes=3)
    line({"kind": "end", "finished": finished.strftime("%Y-%m-%dT%H:%M:%SZ"), "seconds": 180.0,
          "stopped": False, "entries": sum(counts), "unreadable": 0, "exit_status": 0})
    with open(out, "w", encoding="utf-8", newline="\n") as record:
        record.write("\n".join(lines) + "\n")
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--host", default="fs01")
    parser.add_argument("--roots", default="/srv/share")
    parser.add_argument("--entries", type=int, default=1000)
    parser.add_argument("--week", type=int, default=0)
    parser.add_argument("--fixed", type=int, default=0)
    parser.add_argument("--new", type=int, default=0)
    parser.add_argument("--hostile", action="store_true")
    parser.add_argument("--path-longer-than", type=int, default=PATH_LONGER_THAN)
    arguments = parser.parse_args()
    generate(arguments.out, arguments.host, arguments.roots.split(","), arguments.entries,
             arguments.week, arguments.fixed, arguments.new, arguments.hostile,
             path_longer_than=arguments.path_longer_than)


if __name__ == "__main__":
    main()
