#!/usr/bin/python3
"""The installed suite and the Debian package, checked from outside.

    package_test.py --source DIR --tree BUILD     (quick: the tree at hand)
    package_test.py --source DIR --package BUILD  (the package, from scratch)

--tree installs the already built tree BUILD into a throwaway root, as the
package does (`cmake --install` is what CPack runs), and checks that root:
  - it holds a fixed list of what a user must find, every program its
    manual page, the window (when built) its menu entry and metainfo;
  - the metainfo and the menu entries validate, the package's scripts
    reload udev;
  - kestro-cli from that root answers --help and, on first use, lays out a
    user's install folder from the root's /usr/share/kestro; the sweeper
    runs there.

--package configures (once) and builds a Release tree in BUILD, makes the
package with `cpack -G DEB` there and checks the same on the package
unpacked with `dpkg -x`, and further:
  - its files (`dpkg-deb -c`) are exactly what the build installs (a program
    or data file added to the build is in the package without a change here);
  - its control fields and scripts (`dpkg-deb -I`): dependencies that are
    real Debian packages, so `apt-get -f install` finds them;
  - lintian reports no error (warnings are printed).
It builds the whole suite, so it runs only when KESTRO_PACKAGE_TEST=1 is in
the environment (otherwise it reports itself skipped, exit status 77).
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
SKIPPED = 77
APP_ID = "com.example.zumbla.kestro"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
LAID_OUT = ("DICT.DIC", "MBRPBR.DAT", "MIDI.DBF", "Artist.dat", "genere.dat", "Kestro.html", "Kestro_en.html")
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


def clean_env():
    env = dict(os.environ)
    for v in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "CFLAGS", "CXXFLAGS", "LDFLAGS", "KESTRO_DATA_DIR"):
        env.pop(v, None)
    return env


def install_tree(build, dest, env):
    """What `cmake --install` (and so CPack) puts into a root, as a set of files."""
    run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(env, DESTDIR=dest))
    return files_under(dest)


class Installed:
    """Checks on an installed root: cls.root, cls.files, cls.env, cls.build."""

    def test_what_a_user_must_find_is_there(self):
        self.assertEqual(must_have() - self.files, set())
        for f in self.files:
            # Nothing escapes the system's folders (a path of the build machine).
            self.assertTrue(f.startswith(("usr/", "lib/udev/")), f)

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

    def test_metainfo_and_menu_entries_validate(self):
        metainfo = os.path.join(self.root, "usr/share/metainfo", f"{APP_ID}.metainfo.xml")
        if not os.path.exists(metainfo):
            metainfo = os.path.join(self.build, "packaging", f"{APP_ID}.metainfo.xml")
        p = run(["appstreamcli", "validate", "--no-net", "--explain", metainfo], check=False)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        for entry in (f"{APP_ID}.desktop", f"{APP_ID}-uninstall.desktop"):
            p = run(["desktop-file-validate", os.path.join(ARGS.source, "packaging", entry)], check=False)
            self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def test_first_run_from_the_installed_tree(self):
        cli = os.path.join(self.root, "usr/bin/kestro-cli")
        p = run([cli, "--help"], env=self.env)
        self.assertIn("Commands:", p.stdout)
        with tempfile.TemporaryDirectory() as home:
            env = dict(self.env, HOME=home, ZUMBLA_HOME=os.path.join(home, "zumbla"), DISPLAY="",
                       WAYLAND_DISPLAY="", LC_ALL="", LC_MESSAGES="", LANG="it_IT.UTF-8")
            # A command that needs an installation makes one, without asking,
            # in the desktop's language.
            p = run([cli, "--no", "text", "MSG_CANCEL"], env=env)
            self.assertEqual(p.stdout, "Annulla\n")
            self.assertIn("first run", p.stderr)
            install = os.path.join(home, "zumbla", "Kestro")
            p = run([cli, "ini", "get", "PATH", "Installpath"], env=env)
            self.assertEqual(p.stdout, install + "\n")
            self.assertEqual(sorted(os.listdir(install)), sorted(LAID_OUT))
            for name in LAID_OUT:
                with open(os.path.join(install, name), "rb") as a, \
                        open(os.path.join(self.root, "usr/share/kestro", name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)
            # The sweeper with no script: nothing to do, at once, nothing touched.
            before = files_under(home)
            p = run([os.path.join(self.root, "usr/bin/kestro-sweeper")], env=env)
            self.assertEqual(p.returncode, 0)
            self.assertEqual(files_under(home), before)

    def test_package_scripts_reload_udev(self):
        for script in ("postinst", "postrm"):
            with open(os.path.join(ARGS.source, "packaging", script)) as f:
                self.assertIn("udevadm control --reload-rules", f.read(), script)


class Tree(Installed, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = ARGS.tree
        cls.env = clean_env()
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.tmp.name, "root")
        cls.files = install_tree(cls.build, cls.root, cls.env)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()


class Package(Installed, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = cls.build = ARGS.package
        env = cls.env = clean_env()
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
        cls.staged = install_tree(build, os.path.join(cls.tmp.name, "stage"), env)
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
        self.assertEqual(self.files, self.staged)
        self.assertEqual(files_under(self.root), self.files)

    def test_control_fields_and_scripts(self):
        info = run(["dpkg-deb", "-I", self.deb]).stdout
        fields = dict(re.findall(r"(?m)^ (\w[\w-]*): (.*)$", info))
        self.assertEqual(fields["Package"], "kestro")
        self.assertEqual(fields["Section"], "sound")
        self.assertEqual(fields["Architecture"], run(["dpkg", "--print-architecture"]).stdout.strip())
        names = {re.sub(r"\s*\(.*\)", "", alt).strip()
                 for dep in fields["Depends"].split(",") for alt in dep.split("|")}
        for expected in ("libc6", "libcurl4", "libusb-1.0-0", "libftdi1-2", "libqt6widgets6", "libqt6svg6"):
            self.assertIn(expected, names)
        # Every dependency is a package of this Debian, so apt-get -f install
        # finds it.
        for name in names:
            installed = run(["dpkg-query", "-W", "-f", "${Status}", name], check=False).stdout
            known = "ok installed" in installed or \
                run(["apt-cache", "show", "--no-all-versions", name], check=False).returncode == 0
            self.assertTrue(known, name)
        # The description names the window exactly when the package holds it.
        description = run(["dpkg-deb", "-f", self.deb, "Description"]).stdout
        self.assertIn("kestro-cli", description)
        self.assertNotIn("@", description)
        self.assertEqual("the window kestro" in " ".join(description.split()), "usr/bin/kestro" in self.files)
        for script in ("postinst", "postrm"):
            self.assertRegex(info, rf"(?m)^ .*\b{script}\b")
            text = run(["dpkg-deb", "-I", self.deb, script]).stdout
            self.assertIn("udevadm control --reload-rules", text, script)

    def test_lintian_finds_no_error(self):
        p = run(["lintian", "--tag-display-limit", "0", self.deb], check=False)
        print(p.stdout + p.stderr)
        errors = [line for line in p.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--tree")
    mode.add_argument("--package")
    ARGS, rest = ap.parse_known_args()
    ARGS.source = os.path.abspath(ARGS.source)
    if ARGS.package:
        if os.environ.get("KESTRO_PACKAGE_TEST") != "1":
            print("the package test builds the whole suite: set KESTRO_PACKAGE_TEST=1 to run it")
            sys.exit(SKIPPED)
        ARGS.package = os.path.abspath(ARGS.package)
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(Package)
    else:
        ARGS.tree = os.path.abspath(ARGS.tree)
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(Tree)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
