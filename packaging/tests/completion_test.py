#!/usr/bin/python3
"""kestro-cli's bash completion and manual page against the program itself.

    completion_test.py COMPLETION_SCRIPT KESTRO_CLI MANUAL_PAGE

The completion offers the program's commands, sub-commands, options and
files; the manual page names every command that the program's help lists.
"""

import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

COMPLETION, CLI, MANUAL = sys.argv[1:4]


def complete(*words):
    """What bash offers for the command line `words` (the last one is being typed)."""
    line = " ".join(shlex.quote(w) for w in (CLI,) + words)
    script = (f"source {shlex.quote(COMPLETION)}\n"
              f"COMP_WORDS=({line})\nCOMP_CWORD={len(words)}\n"
              "_kestro_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n")
    out = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], capture_output=True, text=True,
                         check=True).stdout
    return sorted(w for w in out.split("\n") if w)


def help_commands():
    out = subprocess.run([CLI, "--help"], capture_output=True, text=True, check=True).stdout
    lines = out.split("Commands:\n", 1)[1].split("\n\n", 1)[0].splitlines()
    commands = []
    for line in lines:
        words = []
        for w in line[2:42].split():
            if not re.fullmatch(r"[a-z][a-z0-9-]*", w):
                break
            words.append(w)
        commands.append(" ".join(words))
    return commands


class Completion(unittest.TestCase):
    def test_commands_and_sub_commands(self):
        cases = [
            (("pla",), ["play", "player"]),
            (("player", ""), ["info", "ram", "setup"]),
            (("--yes", "player", "ram", "c"), ["clear"]),
            (("--home", "/tmp", "card", "f"), ["format"]),
            (("ex",), ["export-csv"]),
            (("--h",), ["--help", "--home"]),
            (("delete", "--p"), ["--pc", "--player"]),
            (("convert", "a.kar", "--t"), ["--to"]),
            (("--v",), ["--version"]),
            (("language", ""), ["ENGLISH", "ITALIANO"]),
            (("--no", "language", "I"), ["ITALIANO"]),
            (("language", "ENGLISH", "ENG"), []),
        ]
        for words, expected in cases:
            with self.subTest(words=words):
                self.assertEqual(complete(*words), expected)

    def test_files_after_a_command(self):
        with tempfile.TemporaryDirectory() as d:
            for name in ("song.kar", "song.mid", "other.txt"):
                open(os.path.join(d, name), "w").close()
            self.assertEqual(complete("convert", os.path.join(d, "song.")),
                             [os.path.join(d, "song.kar"), os.path.join(d, "song.mid")])
            self.assertEqual(complete("--home", os.path.join(d, "x")), [])


class Manual(unittest.TestCase):
    def test_every_command_is_described(self):
        with open(MANUAL, encoding="utf-8") as f:
            text = f.read().replace("\\-", "-")
        commands = help_commands()
        self.assertGreater(len(commands), 30)
        for c in commands:
            with self.subTest(command=c):
                self.assertRegex(text, r'(?m)^\.B[IR]?\s+"?' + re.escape(c) + r'(\s|"|$)')


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
