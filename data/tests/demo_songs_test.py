#!/usr/bin/python3
"""The demo karaoke songs, read back with mido: type 1 files with a conductor,
a words track and one channel per part; the words come one syllable per sung
note and read as the song's verses; the melody is a single singable line; a
song lasts 30 to 90 seconds.

    demo_songs_test.py DEMO_DIR
"""

import os
import sys
import unittest

import mido
from mido.midifiles import meta

DEMO = sys.argv.pop(1) if len(sys.argv) > 1 else "."


class MetaSpec_song_tag(meta.MetaSpec):
    """FF 4B: an item number (1 genre, 2 performer, 3 author) and its text."""
    type_byte = 0x4B
    attributes = ["item", "text"]
    defaults = [0, ""]

    def decode(self, message, data):
        message.item = data[0] if data else 0
        message.text = bytes(data[1:]).decode("latin-1")

    def encode(self, message):
        return [message.item] + list(message.text.encode("latin-1"))


meta.add_meta_spec(MetaSpec_song_tag)

# What each song must be; the words as they read, line by line, "" between verses.
SONGS = {
    "Twinkle_Twinkle.kar": dict(
        title="Twinkle, Twinkle, Little Star", performer="Traditional", author="Jane Taylor", meter=(4, 4),
        language="ENGL", drums=False,
        words=["Twinkle, twinkle, little star,", "How I wonder what you are!", "Up above the world so high,",
               "Like a diamond in the sky.", "Twinkle, twinkle, little star,", "How I wonder what you are!", "",
               "When the blazing sun is gone,", "When he nothing shines upon,", "Then you show your little light,",
               "Twinkle, twinkle, all the night.", "Twinkle, twinkle, little star,", "How I wonder what you are!"]),
    "Fra_Martino.kar": dict(
        title="Fra Martino", performer="Traditional", author="Traditional", meter=(4, 4), language="ITAL",
        drums=False,
        words=(["Fra Martino, campanaro,", "dormi tu? dormi tu?", "Suona le campane, suona le campane,",
                "din, don, dan, din, don, dan.", ""] * 3)[:-1]),
    "Oh_Susanna.kar": dict(
        title="Oh! Susanna", performer="Stephen Foster", author="Stephen Foster", meter=(2, 4), language="ENGL",
        drums=True,
        words=["I come from Alabama", "with my banjo on my knee,", "I'm going to Louisiana,",
               "my true love for to see.", "It rained all night the day I left,", "the weather it was dry,",
               "The sun so hot I froze to death,", "Susanna, don't you cry.", "",
               "Oh! Susanna,", "oh don't you cry for me,", "For I come from Alabama", "with my banjo on my knee.", "",
               "I had a dream the other night,", "when everything was still;", "I thought I saw Susanna,",
               "a-coming down the hill.", "The buckwheat cake was in her mouth,",
               "the tear was in her eye;", "Says I, I'm coming from the South,", "Susanna, don't you cry.", "",
               "Oh! Susanna,", "oh don't you cry for me,", "For I come from Alabama", "with my banjo on my knee."]),
    "Amazing_Grace.kar": dict(
        title="Amazing Grace", performer="Traditional", author="John Newton", meter=(3, 4), language="ENGL",
        drums=False,
        words=["Amazing grace! how sweet the sound,", "That saved a wretch like me!",
               "I once was lost, but now am found,", "Was blind, but now I see.", "",
               "'Twas grace that taught my heart to fear,", "And grace my fears relieved;",
               "How precious did that grace appear", "The hour I first believed!"]),
    "Row_Your_Boat.kar": dict(
        title="Row, Row, Row Your Boat", performer="Traditional", author="Traditional", meter=(6, 8),
        language="ENGL", drums=False,
        words=(["Row, row, row your boat", "gently down the stream.", "Merrily, merrily, merrily, merrily,",
                "life is but a dream.", ""] * 3)[:-1]),
}

# Channels by track name: the melody is what the singer follows.
CHANNELS = {"Melody": 0, "Chords": 1, "Bass": 2, "Drums": 9}
SINGABLE = range(55, 78)  # G3 to F5


def absolute(track):
    t = 0
    for msg in track:
        t += msg.time
        yield t, msg


def notes(track):
    """(start, end, pitch) of every note of a track."""
    open_, out = {}, []
    for t, msg in absolute(track):
        if msg.type == "note_on" and msg.velocity > 0:
            open_.setdefault((msg.channel, msg.note), []).append(t)
        elif msg.type in ("note_off", "note_on"):
            starts = open_.get((msg.channel, msg.note))
            if starts:
                out.append((starts.pop(0), t, msg.note))
    hanging = sum(len(v) for v in open_.values())
    return sorted(out), hanging


def syllables(words_track):
    return [(t, m.text) for t, m in absolute(words_track) if m.type == "text" and t > 0 and not m.text.startswith("@")]


def lines_of(sylls):
    """The words as lines, with "" where a new verse ("\\") begins."""
    lines = [""]
    for _, text in sylls:
        if text.startswith("\\"):
            lines += ["", text[1:]]
        elif text.startswith("/"):
            lines.append(text[1:])
        else:
            lines[-1] += text
    return [l.strip() for l in lines]


class DemoSongs(unittest.TestCase):
    def test_the_songs_are_there(self):
        self.assertEqual(sorted(f for f in os.listdir(DEMO) if f.endswith(".kar")), sorted(SONGS))

    def test_layout_of_tracks_and_channels(self):
        for name, want in SONGS.items():
            with self.subTest(name):
                mid = mido.MidiFile(os.path.join(DEMO, name))
                self.assertEqual(mid.type, 1)
                self.assertEqual(mid.ticks_per_beat, 480)
                parts = ["Melody", "Chords", "Bass"] + (["Drums"] if want["drums"] else [])
                self.assertEqual([t.name for t in mid.tracks], [want["title"], "Words"] + parts)

                conductor = mid.tracks[0]
                kinds = {m.type for m in conductor}
                self.assertFalse(any(not m.is_meta for m in conductor), "channel events in the conductor")
                self.assertTrue({"set_tempo", "time_signature", "key_signature"} <= kinds, kinds)
                sig = next(m for m in conductor if m.type == "time_signature")
                self.assertEqual((sig.numerator, sig.denominator), want["meter"])
                tags = {m.item: m.text for m in conductor if m.type == "song_tag"}
                self.assertEqual((tags.get(2), tags.get(3)), (want["performer"], want["author"]))
                self.assertIn("@KMIDI KARAOKE FILE", [m.text for m in conductor if m.type == "text"])

                words = mid.tracks[1]
                self.assertFalse(any(not m.is_meta for m in words), "channel events among the words")
                heads = [m.text for m in words if m.type == "text" and m.text.startswith("@")]
                self.assertEqual([h for h in heads if h.startswith("@T")], ["@T" + want["title"], "@T" + want["performer"]])
                self.assertIn("@L" + want["language"], heads)

                for track in mid.tracks[2:]:
                    channels = {m.channel for m in track if not m.is_meta}
                    self.assertEqual(channels, {CHANNELS[track.name]}, track.name)
                    played, hanging = notes(track)
                    self.assertGreater(len(played), 20, track.name)
                    self.assertEqual(hanging, 0, track.name + ": notes left sounding")
                    if track.name != "Drums":
                        programs = [m for m in track if m.type == "program_change"]
                        self.assertEqual(len(programs), 1, track.name)

    def test_words_read_as_the_song_one_syllable_per_sung_note(self):
        for name, want in SONGS.items():
            with self.subTest(name):
                mid = mido.MidiFile(os.path.join(DEMO, name))
                sylls = syllables(mid.tracks[1])
                self.assertEqual(lines_of(sylls), want["words"])
                self.assertNotIn(sylls[0][1][0], "/\\", "a mark before the first line costs the player an empty line")
                times = [t for t, _ in sylls]
                self.assertEqual(times, sorted(set(times)), "syllables out of order or two on one note")
                starts = {s for s, _, _ in notes(mid.tracks[2])[0]}
                self.assertEqual([t for t in times if t not in starts], [], "syllables off the melody's notes")

    def test_melody_is_one_singable_line(self):
        for name in SONGS:
            with self.subTest(name):
                mid = mido.MidiFile(os.path.join(DEMO, name))
                played, _ = notes(mid.tracks[2])
                pitches = [p for _, _, p in played]
                self.assertEqual([p for p in pitches if p not in SINGABLE], [], "out of a singer's range")
                self.assertLessEqual(max(pitches) - min(pitches), 16, "wider than an octave and a third")
                for (s1, e1, _), (s2, _, _) in zip(played, played[1:]):
                    self.assertLessEqual(e1, s2, "two melody notes at once at tick %d" % s2)
                # The accompaniment sits below the voice and plays chords.
                bass, _ = notes(mid.tracks[4])
                self.assertLess(max(p for _, _, p in bass), min(pitches))
                chords, _ = notes(mid.tracks[3])
                starts = [s for s, _, _ in chords]
                self.assertGreaterEqual(max(starts.count(s) for s in set(starts)), 3, "no chords")

    def test_length(self):
        for name in SONGS:
            with self.subTest(name):
                seconds = mido.MidiFile(os.path.join(DEMO, name)).length
                self.assertGreaterEqual(seconds, 30)
                self.assertLessEqual(seconds, 90)


if __name__ == "__main__":
    unittest.main()
