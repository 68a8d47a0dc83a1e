#!/usr/bin/env python3
"""The menu entry script of the Linux package, run for a user whose unpacked
folder has a hostile name: the entry it writes must start exactly that
folder's program, as a desktop reads the entry back."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "linux")
ICON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "qt", "resources", "icon-48.png")


def unescape_string(value):
    """A desktop entry's string value, with its \\s \\n \\t \\r \\\\ escapes undone."""
    out, index = [], 0
    while index < len(value):
        if value[index] == "\\" and index + 1 < len(value):
            out.append({"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(value[index + 1], "\\" + value[index + 1]))
            index += 2
        else:
            out.append(value[index])
            index += 1
    return "".join(out)


def exec_arguments(value):
    """Splits an Exec value as GLib does: string escapes first, then field
    codes over the whole value (%% is a literal percent sign), then quoting."""
    text, arguments, current, quoted, index = unescape_string(value).replace("%%", "%"), [], None, False, 0
    while index < len(text):
        char = text[index]
        if quoted:
            if char == "\\" and index + 1 < len(text) and text[index + 1] in '"`$\\':
                current += text[index + 1]
                index += 1
            elif char == '"':
                quoted = False
            else:
                current += char
        elif char == '"':
            quoted, current = True, current or ""
        elif char == " ":
            if current is not None:
                arguments.append(current)
            current = None
        else:
            current = (current or "") + char
        index += 1
    if current is not None:
        arguments.append(current)
    return arguments


def read_entry(path):
    with open(path, encoding="utf-8") as entry:
        lines = entry.read().splitlines()
    return dict(line.split("=", 1) for line in lines if "=" in line)


class MenuEntryTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.data = os.path.join(self.work, "data")

    def tearDown(self):
        shutil.rmtree(self.work)

    def unpack(self, folder_name):
        folder = os.path.join(self.work, folder_name)
        os.makedirs(os.path.join(folder, "icons", "hicolor", "48x48", "apps"))
        for name in ("add-menu-entry.sh", "kestrafin.desktop"):
            shutil.copy(os.path.join(SOURCE, name), folder)
        shutil.copy(ICON, os.path.join(folder, "icons", "hicolor", "48x48", "apps", "kestrafin.png"))
        with open(os.path.join(folder, "kestrafin"), "w") as program:
            program.write("#!/bin/sh\n")
        os.chmod(os.path.join(folder, "kestrafin"), 0o755)
        return folder

    def run_script(self, folder, *arguments):
        environment = dict(os.environ, HOME=self.work, XDG_DATA_HOME=self.data)
        return subprocess.run(["sh", os.path.join(folder, "add-menu-entry.sh"), *arguments],
                              env=environment, capture_output=True, text=True)

    def test_the_entry_starts_the_unpacked_program_whatever_the_folder_is_called(self):
        names = ["kestrafin-1.0.0", "My Tools 100%", 'a "quoted" $HOME `id` \\ folder', "Werkzeuge ärger 工具"]
        entry = os.path.join(self.data, "applications", "kestrafin.desktop")
        for name in names:
            with self.subTest(name=name):
                folder = self.unpack(name)
                result = self.run_script(folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                fields = read_entry(entry)
                self.assertEqual(exec_arguments(fields["Exec"]), [os.path.join(folder, "kestrafin")])
                self.assertEqual(unescape_string(fields["Path"]), folder)
                self.assertEqual(fields["Icon"], "kestrafin")
                if shutil.which("desktop-file-validate"):
                    check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
                    self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        icon = os.path.join(self.data, "icons", "hicolor", "48x48", "apps", "kestrafin.png")
        self.assertTrue(os.path.isfile(icon))
        self.assertEqual(self.run_script(folder, "--remove").returncode, 0)
        self.assertFalse(os.path.exists(entry))
        self.assertFalse(os.path.exists(icon))

    def test_a_folder_no_entry_can_name_is_refused_and_nothing_is_written(self):
        folder = self.unpack("line\nbreak")
        result = self.run_script(folder)
        self.assertEqual(result.returncode, 1)
        self.assertIn("control character", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.data, "applications", "kestrafin.desktop")))


if __name__ == "__main__":
    sys.exit(unittest.main())
