#!/usr/bin/python3
"""Writes the seed inputs of the fuzz targets into <folder>/fuzz/corpus/<target>.

    fuzz_seeds.py BUILD_DIR [SIM_CARD_IMAGE]

Seeds are small (a few KB each) and made by hand here, with mido and mutagen,
with the other systems' tools (mkfs.fat, mtools) and with Kestro's own
tools in BUILD_DIR (a release tree: the dictionary compiler, the database
writer, the demo songs and kestro-cli's import). SIM_CARD_IMAGE, a card that
Kestro formatted and filled through the simulator, gives the index files and a
card image in Kestro's own layout. Run it again only to change the seeds; the
fuzzers themselves add nothing to the tree.
"""

import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import mido
from mutagen.id3 import ID3, TIT2, TPE1, TCON, TCOM, TPUB, COMM

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def seed_dir(folder, target):
    d = os.path.join(TOP, folder, "fuzz", "corpus", target)
    os.makedirs(d, exist_ok=True)
    return d


def put(folder, target, name, data):
    with open(os.path.join(seed_dir(folder, target), name), "wb") as f:
        f.write(data)


def run(*argv, **kw):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, **kw)


# --- Settings and dictionary ---

def struct_hex(data):
    return "".join("%02X" % b for b in data) + "%02X" % (sum(data) & 0xFF)


def settings_seeds():
    widths = bytes([120, 0, 0, 0, 200, 0, 0, 0] + [0] * 32)
    full = (
        "[SETTINGS]\r\nCURRLANGUAGE=ENGLISH\r\nUSB_Agent=1\r\nKESTROACTIVE=0\r\nNEWSONGS=3\r\n"
        "LISTSORTORDER=0120\r\nzumagentshutdown=1\r\nKestroShutDown=0\r\n"
        "[Settings]\r\nKESTROSHUTDOWN=0\r\nmediaChange=1\r\nWebUpdate=0\r\nForceDBSettings=1\r\n"
        "[PATH]\r\nInstallpath=/home/user/.local/share/kestro\r\nOLD_MF4=/home/user/Songs\r\n"
        "NEW_MF4=/home/user/Songs/new\r\nDOWNLOAD_MF4=/home/user/Songs/dl\r\nFlashdrive=/media/card\r\n"
        "ServerPath=www.zumbla.example.com\r\n"
        "[ListSettings]\r\nList1_Width=" + struct_hex(widths) + "\r\nList2_Width=" + struct_hex(widths) + "\r\n"
        "[Link]\r\nSimulator=/tmp/zumbla.sock\r\nBulkVid=0x04B4\r\nBulkPid=4100\r\nFtdiVid=-1\r\n"
    )
    put("context", "settings", "full.ini", full.encode("latin-1"))
    odd = (
        "; written by hand\n[ settings ]\n  KestroActive = 12abc\nKESTROACTIVE=2\n[SETTINGS]\nNEWSONGS=\n"
        "=nokey\n[Link\nSimulator=x\n[Path]\nOLD_MF4=\xe0\xe8 songs\n[ListSettings]\nList1_Width=0102FF\n"
        "[EMPTY]\n[SETTINGS]\nLISTSORTORDER=9"
    )
    put("context", "settings", "odd.ini", odd.encode("latin-1"))


def dictionary_seeds(build):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "d.ini")
        with open(src, "w", encoding="utf-8") as f:
            f.write("[ENUMKEYS]\nK0=MSG_OK\nK1=MSG_CANTOPEN\nK2=MSG_MESSAGE_CF3\nK3=MSG_MESSAGE3\n"
                    "[ITALIANO]\nMSG_OK=OK\nMSG_CANTOPEN=Impossibile aprire il file %s\n"
                    "MSG_MESSAGE_CF3=Scheda da %d MB, libera al %d%%\nMSG_MESSAGE3=Canzone \xe8 %s\n"
                    "[ENGLISH]\nMSG_OK=OK\nMSG_CANTOPEN=Cannot open the file %s\n"
                    "MSG_MESSAGE_CF3=%d MB card, %d%% free\nMSG_MESSAGE3=Song %s\n")
        out = os.path.join(tmp, "DICT.DIC")
        run(os.path.join(build, "tools", "kestro-dictc"), src, out)
        shutil.copy(out, os.path.join(seed_dir("context", "dictionary"), "small.dic"))


# --- MIDI and karaoke files ---

def midi_bytes(mid):
    b = io.BytesIO()
    mid.save(file=b)
    return b.getvalue()


def midi_seeds(build):
    # Format 0 with lyric events and a tempo change.
    m = mido.MidiFile(type=0, ticks_per_beat=96)
    t = mido.MidiTrack()
    m.tracks.append(t)
    t.append(mido.MetaMessage("track_name", name="Seed Song"))
    t.append(mido.MetaMessage("set_tempo", tempo=500000))
    t.append(mido.MetaMessage("time_signature", numerator=3, denominator=4))
    t.append(mido.Message("program_change", program=5, channel=0))
    t.append(mido.Message("control_change", control=7, value=100, channel=0))
    for i, word in enumerate(["Vo", "la", "re\r", "oh ", "oh\n"]):
        t.append(mido.MetaMessage("lyrics", text=word, time=0 if i == 0 else 48))
        t.append(mido.Message("note_on", note=60 + i, velocity=90, time=0))
        t.append(mido.Message("note_off", note=60 + i, velocity=0, time=48))
    t.append(mido.MetaMessage("set_tempo", tempo=400000, time=10))
    t.append(mido.Message("sysex", data=[0x7E, 0x7F, 0x09, 0x01]))
    lyric0 = midi_bytes(m)

    # Format 1, karaoke text events (@ titles, \ new page, / new line) on a
    # words track, and a drum track.
    m = mido.MidiFile(type=1, ticks_per_beat=120)
    meta = mido.MidiTrack()
    meta.append(mido.MetaMessage("set_tempo", tempo=600000))
    words = mido.MidiTrack()
    for text in ["@KMIDI KARAOKE FILE", "@V0100", "@LENG", "@TSeed Song", "@TSeed Singer"]:
        words.append(mido.MetaMessage("text", text=text))
    for i, text in enumerate(["\\Ne", "l ", "blu", "/di", "pin", "to ", "/di ", "blu", "\\fe", "li", "ce"]):
        words.append(mido.MetaMessage("text", text=text, time=60))
    drums = mido.MidiTrack()
    for i in range(6):
        drums.append(mido.Message("note_on", channel=9, note=36 + (i % 3), velocity=100, time=60))
        drums.append(mido.Message("note_off", channel=9, note=36 + (i % 3), velocity=0, time=30))
    drums.append(mido.Message("pitchwheel", channel=9, pitch=1000))
    m.tracks.extend([meta, words, drums])
    kar1 = midi_bytes(m)

    # A file with running status and an unknown meta event, written by hand.
    track = bytes([0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40, 0x10, 0x3C, 0x00, 0x10, 0x3E, 0x00,
                   0x00, 0xFF, 0x7F, 0x03, 0x41, 0x42, 0x43,
                   0x81, 0x00, 0xC0, 0x10, 0x00, 0xFF, 0x2F, 0x00])
    running = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(track)) + track

    demo = os.path.join(build, "share", "kestro", "demo", "Row_Your_Boat.kar")
    with open(demo, "rb") as f:
        demo_kar = f.read()

    for target in ("midi_stream", "midi_event_list", "lyrics", "mf4_convert"):
        put("convert", target, "lyrics_format0.mid", lyric0)
        put("convert", target, "karaoke_format1.kar", kar1)
        put("convert", target, "running_status.mid", running)
        put("convert", target, "demo.kar", demo_kar)
    return demo


def package_seeds(build, demo):
    with tempfile.TemporaryDirectory() as tmp:
        home = os.path.join(tmp, "home")
        songs = os.path.join(tmp, "songs")
        os.makedirs(songs)
        env = dict(os.environ, KESTRO_DATA_DIR=os.path.join(build, "share", "kestro"))
        cli = os.path.join(build, "bin", "kestro-cli")
        run(cli, "--home", home, "install", os.path.join(tmp, "inst"), env=env)
        run(cli, "--home", home, "--yes", "convert", demo, "--to", songs, env=env)
        made = [f for f in os.listdir(songs) if f.upper().endswith(".MF4")]
        with open(os.path.join(songs, made[0]), "rb") as f:
            mf4 = f.read()
    put("convert", "package", "demo.MF4", mf4)
    return mf4


# --- Song texts, database ---

def id3_seeds(mf4):
    frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
    with tempfile.TemporaryDirectory() as tmp:
        for version, name in ((3, "v23.mp3"), (4, "v24.mp3")):
            p = os.path.join(tmp, name)
            with open(p, "wb") as f:
                f.write(frame * 2)
            tag = ID3()
            tag.add(TIT2(encoding=1 if version == 3 else 3, text="Nel blu dipinto di blu"))
            tag.add(TPE1(encoding=0, text="Domenico Modugno"))
            tag.add(TCON(encoding=0, text="Pop"))
            tag.add(TCOM(encoding=0, text="Modugno"))
            tag.add(TPUB(encoding=0, text="Curci"))
            tag.add(COMM(encoding=0, lang="ita", desc="", text="(c) 1958"))
            tag.save(p, v2_version=version)
            with open(p, "rb") as f:
                data = f.read()
            put("library", "id3", name, bytes([6]) + b"Volare" + data)
    put("library", "id3", "plain.mp3", bytes([3]) + b"Abc" + frame * 2)
    put("library", "id3", "song.MF4", bytes([5]) + b"Title" + mf4[:2048])


def dbf_seeds(build):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "db.csv")
        with open(src, "w", encoding="latin-1") as f:
            f.write("CODICE:20;TITOLO:31;AUTORE:31;INTERPRETE:31;EDITORE:30;GENERE:31\n"
                    "00001.MID;AZZURRO;PAOLO CONTE;ADRIANO CELENTANO;EDIZIONI CLAN;POP\n"
                    "X;CAF\xc8;A;B;C;D\n")
        out = os.path.join(tmp, "MIDI.DBF")
        run(os.path.join(build, "tools", "kestro-dbfgen"), src, out)
        shutil.copy(out, os.path.join(seed_dir("library", "dbf"), "small.dbf"))


# --- Firmware ---

def srecord(kind, addr, data):
    alen = {"0": 2, "1": 2, "2": 3, "3": 4, "5": 2, "7": 4, "8": 3, "9": 2}[kind]
    rec = bytes([alen + len(data) + 1]) + addr.to_bytes(alen, "big") + bytes(data)
    rec += bytes([~sum(rec) & 0xFF])
    return "S" + kind + rec.hex().upper()


def firmware_seeds():
    lines = [srecord("0", 0, b"SEED")]
    for i in range(6):
        lines.append(srecord("1", 0x1000 + 16 * i, range(i, i + 16)))
    lines.append(srecord("2", 0x20000, b"\x01\x02\x03\x04"))
    lines.append(srecord("3", 0x50000, b"\xAA\x55"))
    lines.append(srecord("9", 0x1000, b""))
    body = "".join(l + "\r\n" for l in lines).encode()
    good = b"ZUMBLA SEED 1.23\r\n" + b"%d %d\r\n" % (len(body), sum(body)) + body
    bad = b"ZUMBLA SEED 1.24\n" + b"%d,%d trailing\n" % (len(body), sum(body) + 1) + body.replace(b"\r\n", b"\n")
    put("link", "firmware", "good.mhx", good)
    put("link", "firmware", "bad_sum.mhx", bad)


# --- Cards ---

def sector_list(image, offset=0):
    """The input of the card target: the sectors of `image` that are not all
    zero, each as three bytes of number and its 512 bytes."""
    out = bytearray()
    with open(image, "rb") as f:
        n = 0
        while True:
            s = f.read(512)
            if not s:
                break
            if any(s):
                out += (n + offset).to_bytes(3, "little") + s.ljust(512, b"\0")
            n += 1
    return bytes(out)


def identify(sectors):
    words = [0] * 256
    words[0] = 0x848A
    words[1], words[3], words[6] = 256, 2, 32
    words[7], words[8] = sectors >> 16, sectors & 0xFFFF
    model = b"SEED CARD".ljust(40)
    for i in range(20):
        words[27 + i] = model[2 * i] << 8 | model[2 * i + 1]
    words[60], words[61] = sectors & 0xFFFF, sectors >> 16
    return (0xFFFFFF).to_bytes(3, "little") + struct.pack("<256H", *words)


def card_seeds(sim_card):
    with tempfile.TemporaryDirectory() as tmp:
        img = os.path.join(tmp, "card.img")
        # A FAT16 volume without a partition table, as another system writes one.
        with open(img, "wb") as f:
            f.truncate(8 << 20)
        run("/usr/sbin/mkfs.fat", "-F", "16", "-s", "1", "-n", "SEED", img)
        song = os.path.join(tmp, "00007.MF4")
        with open(song, "wb") as f:
            f.write(bytes(range(256)) * 12)
        run("mmd", "-i", img, "::/00007")
        run("mcopy", "-i", img, song, "::/00007/00007.MF4")
        run("mcopy", "-i", img, song, "::/MINDEX0.DAT")
        put("cardfs", "card_fs", "mkfs_plain.card", sector_list(img) + identify(16384))
        # The same behind a partition table, the boot sector at sector 32.
        with open(img, "wb") as f:
            f.truncate(8 << 20)
        mbr = bytearray(512)
        mbr[446:462] = bytes([0, 1, 1, 0, 6, 3, 32, 255]) + struct.pack("<II", 32, (8 << 11) - 32)
        mbr[510:512] = b"\x55\xaa"
        with open(img, "r+b") as f:
            f.write(mbr)
        part = os.path.join(tmp, "part.img")
        with open(part, "wb") as f:
            f.truncate((8 << 20) - 32 * 512)
        run("/usr/sbin/mkfs.fat", "-F", "16", "-s", "1", "-h", "32", part)
        run("mmd", "-i", part, "::/00000")
        run("mcopy", "-i", part, song, "::/00000/00031.MF4")
        with open(img, "r+b") as f, open(part, "rb") as p:
            f.seek(32 * 512)
            f.write(p.read())
        put("cardfs", "card_fs", "mkfs_partitioned.card", sector_list(img) + identify(16384))
    if sim_card:
        size = os.path.getsize(sim_card) // 512
        data = sector_list(sim_card)
        put("cardfs", "card_fs", "kestro_format.card", data + identify(size))
        # The index files Kestro wrote on it.
        files = {}
        for name in ("MINDEX0.DAT", "MINDEX2.DAT"):
            out = subprocess.run(["mtools", "-c", "mtype", "-i", sim_card + "@@" + str(32 * 512), "::/" + name],
                                 check=True, stdout=subprocess.PIPE).stdout
            files[name] = out
        put("library", "index_files", "kestro_card.idx",
            struct.pack("<H", len(files["MINDEX0.DAT"])) + files["MINDEX0.DAT"] + files["MINDEX2.DAT"])


def main():
    build = sys.argv[1]
    sim_card = sys.argv[2] if len(sys.argv) > 2 else None
    settings_seeds()
    dictionary_seeds(build)
    demo = midi_seeds(build)
    mf4 = package_seeds(build, demo)
    id3_seeds(mf4)
    dbf_seeds(build)
    firmware_seeds()
    card_seeds(sim_card)


if __name__ == "__main__":
    main()
