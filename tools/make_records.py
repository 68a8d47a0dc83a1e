#!/usr/bin/env python3
"""Writes two scan records (docs/record-format.md) with a known overlap, for
the diff's benchmark.

    tools/make_records.py OLD NEW [--entries N]

OLD holds entries 0 to N-1 of one root, NEW entries N/10 to N+N/10-1, so a
diff finds N/10 fixed, N/10 new and the rest still failing; of those, every
tenth has gained the path rule in NEW. Files lie a hundred to a folder, each
path over 200 characters, in walk order. Prints the expected counts as JSON.
"""
import argparse
import json

ROOT = "/srv/share/fs01"
REASONS = ["name_length", "folder_length", "path_length", "unreadable"]
NOT_ENTERED = ["cycle", "link_web", "kernel_file_system", "other_machine", "offline", "link",
               "other_volume", "system_folder", "too_many_links"]


def relative_path(index):
    folder = index // 100
    return ("dept%02d/Project %05d quarterly reports and the minutes of every meeting held/"
            "working drafts kept for the audit of the year and the one before it/"
            "copies sent to the board and its committees/file %07d.txt" % (folder % 37, folder, index))


def write_record(path, scan_id, first, count, gained):
    """Writes entries first..first+count-1; those whose index `gained` accepts
    also break the name rule. Returns how many do."""
    prefix = '{"kind":"file","scan_id":"%s","root":"%s","relative_path":"' % (scan_id, ROOT)
    by_name = 0
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(json.dumps({
            "kind": "scan", "scan_id": scan_id, "format": 1, "program": "kestrafin-scan",
            "version": "1.0.0", "host": "fs01", "user": "ann", "started": "2026-12-01T02:00:00Z",
            "roots": [ROOT], "rules": {"folder_longer_than": 200, "path_longer_than": None},
            "checks": ["windows"], "reasons": REASONS, "excludes": [], "threads": 4,
            "follow_links": True, "one_file_system": False, "include_offline": False,
        }, separators=(",", ":")) + "\n")
        lines = []
        for index in range(first, first + count):
            relative = relative_path(index)
            whole = ROOT + "/" + relative
            folder_length = whole.rindex("/")
            if gained(index):
                by_name += 1
                reasons = '["name_length","folder_length"]'
            else:
                reasons = '["folder_length"]'
            lines.append('%s%s","path":"%s","folder_length":%d,"path_length":%d,"reasons":%s}\n'
                         % (prefix, relative, whole, folder_length, len(whole), reasons))
            if len(lines) == 10000:
                out.write("".join(lines))
                lines = []
        out.write("".join(lines))
        counts = {"name_length": by_name, "folder_length": count, "path_length": 0,
                  "unreadable": 0}
        out.write(json.dumps({
            "kind": "root", "scan_id": scan_id, "root": ROOT, "end": "complete",
            "exit_status": 0, "folders_read": count // 100, "files_seen": count,
            "entries": count, "entries_by_reason": counts, "unreadable": 0,
            "not_entered": {reason: 0 for reason in NOT_ENTERED}, "folders_to_act_on": [],
            "seconds": 1.5,
        }, separators=(",", ":")) + "\n")
        out.write(json.dumps({
            "kind": "end", "scan_id": scan_id, "finished": "2026-12-01T03:00:00Z",
            "seconds": 3600, "stopped": False, "entries": count, "unreadable": 0,
            "exit_status": 0,
        }, separators=(",", ":")) + "\n")
    return by_name


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--entries", type=int, default=1_000_000)
    args = parser.parse_args()
    count = args.entries
    shift = count // 10
    write_record(args.old, "0" * 31 + "1", 0, count, lambda index: False)
    gained = write_record(args.new, "0" * 31 + "2", shift, count,
                          lambda index: index % 10 == 0 and index < count)
    print(json.dumps({"fixed": shift, "new": shift, "still": count - shift,
                      "gained": gained}))


if __name__ == "__main__":
    main()
