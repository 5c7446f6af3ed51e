#!/usr/bin/python3
"""The layer check against small trees: it passes on includes that look down
and fails, naming file and line, on one that looks up or sideways."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(os.path.dirname(HERE), "check_layers.py")


def run_on(files):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        r = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
        return r.returncode, r.stdout


class LayerCheck(unittest.TestCase):
    def test_includes_that_look_down_pass(self):
        rc, out = run_on({
            "platform/a.h": "#pragma once\n",
            "context/env.h": '#include "platform/a.h"\n',
            "link/link.h": '#include "context/env.h"\n#include "platform/a.h"\n',
            "cardfs/fs.h": '#include "link/link.h"\n',
            "convert/midi.h": '#include "context/env.h"\n',
            "library/lib.cpp": '#include "cardfs/fs.h"\n#include "convert/midi.h"\n#include "platform/a.h"\n',
            "shell/app.cpp": '#include "library/lib.h"\n',
            "cli/main.cpp": '#include "shell/app.h"\n#include "link/link.h"\n',
            "sim/sim_player.cpp": '#include "link/wire.h"\n#include "link/channel.h"\n#include "sim/x.h"\n',
            "sim/sim_rig.cpp": '#include "link/player.h"\n#include "context/env.h"\n#include "sim/sim_player.h"\n',
        })
        self.assertEqual(rc, 0, out)

    def test_wrong_includes_are_named_by_file_and_line(self):
        cases = [
            # (file, text, the line the report must carry)
            ("link/link.h", '#include "platform/a.h"\n#include "shell/app.h"\n', 'link/link.h:2: link includes "shell/app.h"'),
            ("context/env.cpp", '#include "link/link.h"\n', 'context/env.cpp:1: context includes "link/link.h"'),
            ("convert/karaoke.cpp", '\n\n#include "link/charmap.h"\n', 'convert/karaoke.cpp:3: convert includes "link/charmap.h"'),
            ("cardfs/fat.cpp", '#include "convert/midi.h"\n', 'cardfs/fat.cpp:1: cardfs includes "convert/midi.h"'),
            ("library/x.cpp", '#include "cli/cli.h"\n', 'library/x.cpp:1: library includes "cli/cli.h"'),
            ("sim/sim_player.cpp", '#include "link/player.h"\n', 'sim/sim_player.cpp:1: sim includes "link/player.h"'),
            ("sim/sim_server.cpp", '#include "sim/sim_rig.h"\n', 'sim/sim_server.cpp:1: sim includes "sim/sim_rig.h"'),
        ]
        for rel, text, expected in cases:
            with self.subTest(rel=rel):
                rc, out = run_on({rel: text})
                self.assertEqual(rc, 1, out)
                self.assertIn(expected, out)

    def test_tests_benchmarks_and_fuzzers_may_use_anything(self):
        rc, out = run_on({
            "link/tests/t.cpp": '#include "shell/app.h"\n',
            "convert/bench/b.cpp": '#include "library/lib.h"\n',
            "cardfs/fuzz/f.cpp": '#include "sim/sim_rig.h"\n',
            "platform/testing/s.h": '#include "context/env.h"\n',
        })
        self.assertEqual(rc, 0, out)

    def test_a_folder_outside_the_table_is_reported(self):
        rc, out = run_on({"newpart/x.cpp": '#include "platform/a.h"\n'})
        self.assertEqual(rc, 1, out)
        self.assertIn("newpart/x.cpp: lies in no layer", out)


if __name__ == "__main__":
    unittest.main()
