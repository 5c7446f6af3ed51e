#!/usr/bin/python3
"""The Debian package, built as a user builds it and checked from outside.

    package_test.py --source DIR --build DIR

Configures (once) and builds a Release tree in --build, makes the package
with `cpack -G DEB` there, and checks:
  - its files are exactly what the build installs (a program or data file
    added to the build is in the package without a change here), and
    always include a fixed list of what a user must find;
  - every program has its manual page; the window, when built, its menu
    entry and metainfo;
  - its dependencies are real Debian packages, its scripts reload udev;
  - lintian reports no error (warnings are printed);
  - the metainfo and the menu entries validate;
  - unpacked into a throwaway root, kestro-cli answers --help and lays out a
    user's install folder from that root's /usr/share/kestro on first use.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
APP_ID = "com.example.zumbla.kestro"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
LAID_OUT = ("DICT.DIC", "MBRPBR.DAT", "MIDI.DBF", "Artist.dat", "genere.dat")
DEMO_SONGS = ("Twinkle_Twinkle.kar", "Fra_Martino.kar", "Oh_Susanna.kar", "Amazing_Grace.kar",
              "Row_Your_Boat.kar")


def must_have():
    files = {f"usr/bin/{p}" for p in ("kestro-cli", "zumbla-sim", "harvo", "kestro-uninstall", "kestro-sweeper")}
    files |= {f"usr/share/kestro/{f}" for f in LAID_OUT}
    files |= {"usr/share/kestro/art/MainIcon.svg"}
    files |= {f"usr/share/kestro/demo/{f}" for f in DEMO_SONGS}
    files |= {"lib/udev/rules.d/60-zumbla.rules",
              f"usr/share/applications/{APP_ID}-uninstall.desktop",
              f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg",
              "usr/share/bash-completion/completions/kestro-cli",
              "usr/share/doc/kestro/copyright",
              "usr/share/doc/kestro/changelog.gz"}
    files |= {f"usr/share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in ICON_SIZES}
    return files


def run(cmd, env=None, cwd=None, check=True):
    start = time.monotonic()
    p = subprocess.run(cmd, capture_output=True, text=True, env=env, cwd=cwd)
    print(f"[{time.monotonic() - start:6.1f} s] {' '.join(cmd)}", flush=True)
    if check and p.returncode != 0:
        raise AssertionError(f"{' '.join(cmd)} failed ({p.returncode}):\n{p.stdout}\n{p.stderr}")
    return p


def files_under(root):
    found = set()
    for dirpath, dirnames, filenames in os.walk(root):
        for name in filenames + [d for d in dirnames if os.path.islink(os.path.join(dirpath, d))]:
            found.add(os.path.relpath(os.path.join(dirpath, name), root))
    return found


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = ARGS.build
        env = dict(os.environ)
        for v in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "CFLAGS", "CXXFLAGS", "LDFLAGS"):
            env.pop(v, None)
        cls.env = env
        if not os.path.exists(os.path.join(build, "build.ninja")):
            run(["cmake", "-S", ARGS.source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DKESTRO_TESTS=OFF", "-DCMAKE_INSTALL_PREFIX=/usr"], env=env)
        run(["cmake", "--build", build, "-j2"], env=env)
        out = os.path.join(build, "deb")
        shutil.rmtree(out, ignore_errors=True)
        run(["cpack", "-G", "DEB", "-B", out], env=env, cwd=build)
        debs = [f for f in os.listdir(out) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(out, debs[0])
        cls.tmp = tempfile.TemporaryDirectory()
        # What the build installs, into a staging folder.
        cls.stage = os.path.join(cls.tmp.name, "stage")
        run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(env, DESTDIR=cls.stage))
        listing = run(["dpkg-deb", "-c", cls.deb]).stdout
        cls.files = set()
        for line in listing.splitlines():
            path = line.split(None, 5)[5].split(" -> ")[0]
            if not path.endswith("/"):
                cls.files.add(os.path.normpath(path))
        cls.root = os.path.join(cls.tmp.name, "root")
        run(["dpkg", "-x", cls.deb, cls.root])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_files_are_what_the_build_installs(self):
        self.assertEqual(self.files, files_under(self.stage))
        self.assertEqual(must_have() - self.files, set())

    def test_every_program_has_its_manual_page_and_the_window_its_entry(self):
        programs = {f[len("usr/bin/"):] for f in self.files if f.startswith("usr/bin/")}
        pages = {f[len("usr/share/man/man1/"):-len(".1.gz")] for f in self.files
                 if f.startswith("usr/share/man/man1/")}
        self.assertEqual(pages, programs)
        window = {f"usr/share/applications/{APP_ID}.desktop", f"usr/share/metainfo/{APP_ID}.metainfo.xml"}
        if "kestro" in programs:
            self.assertEqual(window - self.files, set())
        else:
            self.assertEqual(window & self.files, set())

    def test_dependencies_and_scripts(self):
        control = run(["dpkg-deb", "-f", self.deb, "Package", "Version", "Architecture", "Depends", "Section"]).stdout
        fields = dict(re.findall(r"(?m)^(\w+): (.*)$", control))
        self.assertEqual(fields["Package"], "kestro")
        self.assertEqual(fields["Section"], "sound")
        names = {re.sub(r"\s*\(.*\)", "", alt).strip()
                 for dep in fields["Depends"].split(",") for alt in dep.split("|")}
        for expected in ("libc6", "libcurl4", "libusb-1.0-0", "libftdi1-2", "libqt6widgets6", "libqt6svg6"):
            self.assertIn(expected, names)
        # Every dependency is a package of this Debian, so apt-get -f install
        # finds it.
        for name in names:
            status = run(["dpkg-query", "-W", "-f", "${Status}", name], check=False).stdout
            self.assertIn("installed", status, name)
        postinst = run(["dpkg-deb", "-I", self.deb, "postinst"]).stdout
        self.assertIn("udevadm control --reload-rules", postinst)

    def test_lintian_finds_no_error(self):
        p = run(["lintian", "--no-tag-display-limit", self.deb], check=False)
        print(p.stdout + p.stderr)
        errors = [l for l in p.stdout.splitlines() if l.startswith("E:")]
        self.assertEqual(errors, [])

    def test_metainfo_and_menu_entries_validate(self):
        metainfo = os.path.join(self.root, "usr/share/metainfo", f"{APP_ID}.metainfo.xml")
        if not os.path.exists(metainfo):
            metainfo = os.path.join(ARGS.build, "packaging", f"{APP_ID}.metainfo.xml")
        p = run(["appstreamcli", "validate", "--no-net", "--explain", metainfo], check=False)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        for entry in (f"{APP_ID}.desktop", f"{APP_ID}-uninstall.desktop"):
            p = run(["desktop-file-validate", os.path.join(ARGS.source, "packaging", entry)], check=False)
            self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def test_programs_run_from_the_unpacked_package(self):
        cli = os.path.join(self.root, "usr/bin/kestro-cli")
        p = run([cli, "--help"], env=self.env)
        self.assertIn("Commands:", p.stdout)
        with tempfile.TemporaryDirectory() as home:
            env = dict(self.env, HOME=home, ZUMBLA_HOME=os.path.join(home, "zumbla"), DISPLAY="",
                       WAYLAND_DISPLAY="")
            env.pop("KESTRO_DATA_DIR", None)
            p = run([cli, "text", "MSG_OK"], env=env)
            self.assertEqual(p.stdout, "OK\n")
            install = os.path.join(home, "zumbla", "Kestro")
            p = run([cli, "ini", "get", "PATH", "Installpath"], env=env)
            self.assertEqual(p.stdout, install + "\n")
            for name in LAID_OUT:
                with open(os.path.join(install, name), "rb") as a, \
                        open(os.path.join(self.root, "usr/share/kestro", name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)
            # The sweeper with no script: nothing to do, at once.
            p = run([os.path.join(self.root, "usr/bin/kestro-sweeper")], env=env)
            self.assertEqual(p.returncode, 0)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--build", required=True)
    ARGS, rest = ap.parse_known_args()
    ARGS.source = os.path.abspath(ARGS.source)
    ARGS.build = os.path.abspath(ARGS.build)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
