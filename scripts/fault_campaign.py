#!/usr/bin/python3
"""The fault campaign: kestro-cli against zumbla-sim with the link cut in the
middle of every kind of card and player work, and what is left checked.

    fault_campaign.py BUILD_DIR [--every K | --cuts N] [--rates N] [--workers N] [--budget S] [--keep DIR]

Operations: (a) 10 songs sent to the card, (b) 5 card songs deleted, (c) a
card format, (d) a recovery, (e) a firmware update. Each runs once whole,
with the simulator's wire log, to count its exchanges (a reply of the player
is one); then again from the same start for every K-th exchange, cut there:
the simulator hangs up ("drop-after"), falls silent ("stop-after") or is
killed, in turn. Then N runs of every card operation with sector reads sent
with a wrong sum and writes refused at random rates.

After each run the player is reconnected (a fresh simulator on the same
state) and the user's next commands run: the card's list, then a recovery
(for the firmware, the update again). Then:
- fsck.fat -n on the card: clean, or only clusters no file uses (lost
  clusters), or worse;
- the index files, read back by kestro-cli, list exactly the songs in the
  card's folders;
- every PC song file has the bytes it had before;
- the command told the truth: exit status 0 only when its work is all done
  (every song on the card, the songs gone, the card empty, the list whole,
  the flash programmed), and a reason on standard error when it failed.

Prints the figures and exits 1 when a PC file was lost, a success was false,
a card had errors other than lost clusters or a recovery left a mismatch.
"""

import argparse
import concurrent.futures
import hashlib
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SONGS = 10
DELETED = 5
CARD_MB = 16
PARTITION = 32  # where a format puts the volume on a card of this size


class Rig:
    def __init__(self, build, root):
        self.build = build
        self.cli = os.path.join(build, "bin", "kestro-cli")
        self.sim_program = os.path.join(build, "bin", "zumbla-sim")
        self.root = root
        self.home = os.path.join(root, "home")
        self.simdir = os.path.join(root, "sim")
        self.sock = os.path.join(root, "zumbla.sock")
        self.sim = None
        self.env = dict(os.environ, ZUMBLA_HOME=self.home, LANG="C", LC_ALL="", LC_MESSAGES="")

    # --- The simulator ---

    def start(self, extra=()):
        if os.path.exists(self.sock):
            os.unlink(self.sock)
        self.sim = subprocess.Popen(
            [self.sim_program, "--dir", self.simdir, "--socket", self.sock, "--mode", "card",
             "--card-mb", str(CARD_MB)] + list(extra),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                s = socket.socket(socket.AF_UNIX)
                s.connect(self.sock)
                s.close()
                # That probe was a connection of its own; the next one is the
                # command's.
                time.sleep(0.05)
                return
            except OSError:
                time.sleep(0.02)
        raise RuntimeError("zumbla-sim did not start")

    def stop(self, kill=False):
        if self.sim is None:
            return
        if self.sim.poll() is None:
            self.sim.send_signal(signal.SIGKILL if kill else signal.SIGTERM)
        self.sim.wait()
        self.sim = None

    # --- Kestro ---

    def run(self, *args, timeout=600, watch=None):
        """Runs kestro-cli; `watch` is called every 5 ms while it runs."""
        p = subprocess.Popen([self.cli, "--yes"] + list(args), env=self.env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, errors="replace")
        if watch:
            deadline = time.time() + timeout
            while p.poll() is None and time.time() < deadline:
                watch()
                time.sleep(0.005)
        try:
            out, err = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
            return 124, out, err + "\n(hung: killed after %d s)" % timeout
        return p.returncode, out, err

    def must(self, *args):
        rc, out, err = self.run(*args)
        if rc != 0:
            raise RuntimeError("kestro-cli %s: %d\n%s%s" % (" ".join(args), rc, out, err))
        return out

    # --- State ---

    def save(self, name):
        dst = os.path.join(self.root, "snap-" + name)
        shutil.rmtree(dst, ignore_errors=True)
        os.makedirs(dst)
        for part in ("home", "sim"):
            shutil.copytree(os.path.join(self.root, part), os.path.join(dst, part), symlinks=True)

    def adopt(self, master):
        """Takes the master's snapshots, its paths turned into ours."""
        os.makedirs(self.root, exist_ok=True)
        for entry in os.listdir(master.root):
            if entry.startswith("snap-"):
                shutil.copytree(os.path.join(master.root, entry), os.path.join(self.root, entry), symlinks=True)
                ini = os.path.join(self.root, entry, "home", "Zumbla.INI")
                with open(ini, encoding="latin-1") as f:
                    text = f.read()
                with open(ini, "w", encoding="latin-1") as f:
                    f.write(text.replace(master.root, self.root))

    def restore(self, name):
        src = os.path.join(self.root, "snap-" + name)
        for part in ("home", "sim"):
            shutil.rmtree(os.path.join(self.root, part), ignore_errors=True)
            shutil.copytree(os.path.join(src, part), os.path.join(self.root, part), symlinks=True)

    def image(self):
        return os.path.join(self.simdir, "card.img")

    def pc_folder(self):
        return os.path.join(self.home, "songs")

    def pc_digest(self):
        d = {}
        for dirpath, _, files in os.walk(self.pc_folder()):
            for f in files:
                p = os.path.join(dirpath, f)
                with open(p, "rb") as fh:
                    d[os.path.relpath(p, self.pc_folder())] = hashlib.sha1(fh.read()).hexdigest()
        return d

    # --- The card, as other systems see it ---

    def fsck(self):
        """'clean', 'lost' (only lost clusters) or 'errors' plus fsck's words."""
        part = os.path.join(self.root, "part.img")
        with open(self.image(), "rb") as f, open(part, "wb") as o:
            f.seek(PARTITION * 512)
            shutil.copyfileobj(f, o)
        r = subprocess.run(["/usr/sbin/fsck.fat", "-n", part], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, errors="replace")
        os.unlink(part)
        text = r.stdout
        if r.returncode == 0:
            return "clean", text
        # What fsck.fat reports besides the lost clusters it would reclaim.
        problems = [l for l in text.splitlines()[1:]
                    if l.strip() and not re.search(r"^fsck\.fat|^/|Reclaimed|unused clusters|Leaving filesystem|"
                                                   r"files, .* clusters|Checking|Performing changes|Free cluster|Reclaimed",
                                                   l)]
        if re.search(r"Reclaimed \d+ unused clusters?", text) and not problems:
            return "lost", text
        return "errors", text

    def folder_codes(self):
        """Song codes of the files in the card's folders."""
        r = subprocess.run(["mdir", "-/", "-b", "-i", "%s@@%d" % (self.image(), PARTITION * 512), "::/"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace",
                           env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        codes = set()
        for line in r.stdout.splitlines():
            m = re.match(r"^::/(\d+)/(\d{5})\.(MF4|MP3)$", line.strip(), re.I)
            if m:
                codes.add(int(m.group(2)))
        return codes

    def listed_codes(self):
        """Codes of the card's list as kestro-cli reads it; None when it fails."""
        rc, out, _ = self.run("songs")
        if rc != 0:
            return None
        codes = set()
        for line in out.splitlines():
            m = re.match(r"^\s*(\d+)\s{2}", line)
            if m:
                codes.add(int(m.group(1)))
        return codes

    def flash(self):
        with open(os.path.join(self.simdir, "flash.bin"), "rb") as f:
            return f.read()


# --- The made-up firmware ---

def srecord(kind, addr, data):
    alen = {"0": 2, "1": 2, "2": 3, "9": 2}[kind]
    rec = bytes([alen + len(data) + 1]) + addr.to_bytes(alen, "big") + bytes(data)
    rec += bytes([~sum(rec) & 0xFF])
    return "S" + kind + rec.hex().upper()


def firmware_file(path, records=40):
    flash = bytearray(b"\xff" * (8 * 65536))
    lines = [srecord("0", 0, b"CAMPAIGN")]
    for i in range(records):
        data = bytes((i * 7 + j) & 0xFF for j in range(16))
        addr = 0x100 + 16 * i
        lines.append(srecord("1", addr, data))
        flash[addr:addr + 16] = data
    lines.append(srecord("9", 0, b""))
    body = "".join(l + "\r\n" for l in lines).encode()
    with open(path, "wb") as f:
        f.write(b"ZUMBLA CAMPAIGN 9.99\r\n%d %d\r\n" % (len(body), sum(body)) + body)
    return bytes(flash)


# --- The campaign ---

class Campaign:
    def __init__(self, master, keep):
        self.master = master
        self.keep = keep
        self.figures = dict(runs=0, cuts=0, clean=0, lost=0, errors=0, mismatches=0, pc_lost=0,
                            false_successes=0, silent_failures=0, hung=0)
        self.failures = []
        self.lock = threading.Lock()
        self.local = threading.local()
        self.rigs = []

    def prepare(self):
        r = self.master
        os.makedirs(r.home)
        r.must("install", os.path.join(r.home, "inst"))
        r.must("ini", "set", "Link", "Simulator", r.sock)
        r.must("ini", "set", "Settings", "WebUpdate", "0")
        r.must("ini", "set", "PATH", "OLD_MF4", r.pc_folder())
        os.makedirs(r.pc_folder())
        demo = os.path.join(r.build, "share", "kestro", "demo")
        src = sorted(os.path.join(demo, f) for f in os.listdir(demo))
        staging = os.path.join(r.root, "staging")
        os.makedirs(staging)
        r.must("convert", *src, "--to", staging)
        made = sorted(os.path.join(staging, f) for f in os.listdir(staging) if f.upper().endswith(".MF4"))
        self.songs = []
        for i in range(SONGS):
            name = "Campaign %02d.MF4" % (i + 1)
            dst = os.path.join(r.pc_folder(), name)
            shutil.copy(made[i % len(made)], dst)
            r.must("song", "edit", dst, "--title", "Campaign %02d" % (i + 1))
            self.songs.append(name)
        # The firmware file lies outside the state that runs restore.
        self.firmware = os.path.join(os.path.dirname(r.root), "ZUMBLA2.MHX")
        self.flash = firmware_file(self.firmware)

        r.start()
        r.must("card", "format")
        r.stop()
        r.save("empty")
        r.start()
        r.must("send", *self.songs)
        self.codes = sorted(r.listed_codes())
        r.stop()
        if len(self.codes) != SONGS:
            raise RuntimeError("the campaign's card holds %r" % self.codes)
        r.save("full")

    def operations(self):
        deleted = [str(c) for c in self.codes[:DELETED]]
        return [
            ("send 10 songs", "empty", ["send"] + self.songs, self.sent_all),
            ("delete 5 songs", "full", ["delete", "--player"] + deleted, self.deleted_all),
            ("format", "full", ["card", "format"], self.card_empty),
            ("recover", "full", ["recover"], self.list_whole),
            ("firmware update", "full", ["firmware", "update", self.firmware], self.programmed),
        ]

    # What an exit status 0 promises, checked right after the command (the
    # card's list as the user's next command shows it).
    def sent_all(self, r, listed):
        return listed is not None and len(listed) == SONGS and listed == r.folder_codes()

    def deleted_all(self, r, listed):
        gone = set(self.codes[:DELETED])
        return listed is not None and not (listed & gone) and not (r.folder_codes() & gone)

    def card_empty(self, r, listed):
        return listed == set() and r.folder_codes() == set()

    def list_whole(self, r, listed):
        return listed == r.folder_codes()

    def programmed(self, r, listed=None):
        r.stop()  # the simulator keeps its flash when it ends
        r.start()
        return r.flash() == self.flash

    def exchanges(self, snapshot, args):
        """Player bytes sent before each reply of a whole run, and the wire
        log's size there."""
        r = self.master
        r.restore(snapshot)
        log = os.path.join(r.root, "wire.log")
        if os.path.exists(log):
            os.unlink(log)
        r.start(["--wire-log", log])
        rc, out, err = r.run(*args)
        r.stop()
        if rc != 0:
            raise RuntimeError("kestro-cli %s failed without a fault:\n%s%s" % (" ".join(args), out, err))
        points = []
        sent = 0
        size = 0
        last = "H"
        with open(log) as f:
            for line in f:
                side, _, hexes = line.partition(" ")
                n = len(hexes.split())
                if side == "P<" and last != "P":
                    points.append((sent, size))
                if side == "P<":
                    sent += n
                    last = "P"
                else:
                    last = "H"
                size += len(line)
        os.unlink(log)
        return points

    def rig(self):
        r = getattr(self.local, "rig", None)
        if r is None:
            with self.lock:
                r = Rig(self.master.build, "%s-worker%d" % (self.master.root, len(self.rigs)))
                self.rigs.append(r)
            r.adopt(self.master)
            self.local.rig = r
        return r

    def one_run(self, job):
        name, snapshot, args, done, faults, kill_at, label = job
        r = self.rig()
        r.restore(snapshot)
        before = r.pc_digest()
        log = os.path.join(r.root, "wire.log")
        if os.path.exists(log):
            os.unlink(log)
        if faults:
            with open(os.path.join(r.simdir, "faults"), "w") as f:
                f.write(faults)
        r.start(["--wire-log", log] if kill_at is not None else [])

        def watch():
            try:
                if r.sim and r.sim.poll() is None and os.path.getsize(log) >= kill_at:
                    r.sim.kill()
            except OSError:
                pass

        rc, out, err = r.run(*args, watch=watch if kill_at is not None else None)
        r.stop(kill=True)  # unplugged: what the player did not keep is gone
        if os.path.exists(log):
            os.unlink(log)
        problems = []
        counts = dict(runs=1)
        if rc == 124:
            counts["hung"] = 1
            problems.append("the command hung")

        # Reconnected: the simulator again, on what the run left.
        try:
            os.unlink(os.path.join(r.simdir, "faults"))
        except FileNotFoundError:
            pass
        r.start()
        if name == "firmware update":
            if rc == 0 and not done(r):
                counts["false_successes"] = 1
                problems.append("exit status 0 but the flash does not hold the file")
            # The user's next command: the update again.
            rc2, out2, err2 = r.run(*args)
            if rc2 != 0 or not self.programmed(r):
                counts["mismatches"] = 1
                problems.append("the update again did not program the player: %s" % err2.strip()[-200:])
        else:
            # The user's next commands: the list, then a recovery.
            listed = r.listed_codes()
            if rc == 0 and not done(r, listed):
                counts["false_successes"] = 1
                problems.append("exit status 0 but the work is not done (list %r)" % (listed,))
            rc2, out2, err2 = r.run("recover")
            listed, folders = r.listed_codes(), r.folder_codes()
            if rc2 != 0 or listed != folders:
                counts["mismatches"] = 1
                problems.append("after recovery (status %d) the list %r and the folders %r differ: %s"
                                % (rc2, listed, folders, err2.strip()[-200:]))
        if rc != 0 and rc != 124 and not err.strip():
            counts["silent_failures"] = 1
            problems.append("failed without a reason")
        r.stop()

        verdict, text = r.fsck()
        counts[verdict] = 1
        if verdict == "errors":
            problems.append("fsck.fat: " + " | ".join(text.splitlines()[1:6]))
        after = r.pc_digest()
        lost = [f for f in before if before[f] != after.get(f)]
        if lost:
            counts["pc_lost"] = len(lost)
            problems.append("PC files changed or gone: %s" % ", ".join(lost))
        with self.lock:
            for k, v in counts.items():
                self.figures[k] += v
            if self.figures["runs"] % 50 == 0:
                print("  %d runs so far" % self.figures["runs"], file=sys.stderr, flush=True)
            if problems:
                self.failures.append("%s, %s: status %d (%s); %s" % (
                    name, label, rc, err.strip().splitlines()[-1][:160] if err.strip() else "", "; ".join(problems)))
        if problems and self.keep:
            dst = os.path.join(self.keep, "%s-%s" % (name.replace(" ", "_"), label.replace(" ", "_").replace("/", "")))
            shutil.rmtree(dst, ignore_errors=True)
            shutil.copytree(r.simdir, dst + "/sim")
            shutil.copytree(r.home, dst + "/home", symlinks=True)

    def jobs(self, every, min_cuts, rates):
        kinds = ["drop-after", "stop-after", "kill"]
        jobs = []
        ops = [(name, snapshot, args, done, self.exchanges(snapshot, args))
               for name, snapshot, args, done in self.operations()]
        self.exchange_counts = [(name, len(points)) for name, _, _, _, points in ops]
        if not every:
            total = sum(len(points) for *_, points in ops)
            every = max(1, total // (min_cuts + len(ops)))
        self.every = every
        for name, snapshot, args, done, points in ops:
            n = 0
            for j in range(every - 1, len(points), every):
                sent, size = points[j]
                kind = kinds[n % len(kinds)]
                # Every other round of cuts falls inside the reply rather
                # than before it.
                inside = 1 if (n // len(kinds)) % 2 else 0
                n += 1
                label = "%s at exchange %d of %d" % (kind, j + 1, len(points))
                if kind == "kill":
                    jobs.append((name, snapshot, args, done, None, size + 1, label))
                else:
                    jobs.append((name, snapshot, args, done, "%s %d\n" % (kind, sent + inside), None, label))
        cuts = len(jobs)
        for name, snapshot, args, done in self.operations()[:4]:
            for i in range(rates):
                read_rate, write_rate = [(20, 0), (0, 20), (50, 50), (200, 100)][i % 4]
                faults = "corrupt-read-rate %d\nnak-write-rate %d\nseed %d\n" % (read_rate, write_rate, i + 1)
                jobs.append((name, snapshot, args, done, faults, None,
                             "reads %d per mille wrong, writes %d per mille refused, seed %d"
                             % (read_rate, write_rate, i + 1)))
        return jobs, cuts

    def run_all(self, jobs, workers, budget):
        start = time.time()

        def job(j):
            if budget and time.time() - start > budget:
                return
            self.one_run(j)

        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            for f in [pool.submit(job, j) for j in jobs]:
                f.result()
        for r in self.rigs:
            r.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--every", type=int, default=0,
                    help="cut at every K-th exchange (default: as often as gives --cuts cuts)")
    ap.add_argument("--cuts", type=int, default=500, help="cuts at least, when --every is not given")
    ap.add_argument("--rates", type=int, default=8, help="runs per card operation with random faults")
    ap.add_argument("--workers", type=int, default=6,
                    help="runs at the same time (each waits for the player most of its time)")
    ap.add_argument("--budget", type=float, default=0, help="start no run after this many seconds")
    ap.add_argument("--keep", help="keep the state of every failed run here")
    a = ap.parse_args()
    t0 = time.time()
    with tempfile.TemporaryDirectory(prefix="kestro-campaign-") as top:
        master = Rig(os.path.abspath(a.build), os.path.join(top, "master"))
        c = Campaign(master, a.keep)
        try:
            c.prepare()
            jobs, cuts = c.jobs(a.every, a.cuts, a.rates)
            c.run_all(jobs, a.workers, a.budget)
        finally:
            master.stop()
            for r in c.rigs:
                r.stop()
    f = c.figures
    f["cuts"] = min(cuts, f["runs"])
    print("fault campaign: a cut at every %d. exchange of each operation, %d runs of each card operation "
          "with random faults; %.0f s" % (c.every, a.rates, time.time() - t0))
    print("  exchanges of a whole run: " + ", ".join("%s %d" % e for e in c.exchange_counts))
    print("  runs                                 %6d" % f["runs"])
    print("  cuts                                 %6d" % f["cuts"])
    print("  cards clean                          %6d" % f["clean"])
    print("  cards with only lost clusters        %6d" % f["lost"])
    print("  cards with other errors              %6d" % f["errors"])
    print("  index mismatches after recovery      %6d" % f["mismatches"])
    print("  PC files lost                        %6d" % f["pc_lost"])
    print("  false successes                      %6d" % f["false_successes"])
    print("  failures without a reason            %6d" % f["silent_failures"])
    print("  commands that hung                   %6d" % f["hung"])
    for line in sorted(c.failures):
        print("  FAILED " + line)
    bad = f["errors"] + f["mismatches"] + f["pc_lost"] + f["false_successes"] + f["silent_failures"] + f["hung"]
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
