// What the window does with playback and the floppy: the karaoke panel's
// pages and colouring at given play times (drawn, not only worked out),
// PLAY and STOP with their states and the busy flag, a machine without a
// sound output, the sound settings, and the floppy menu items on a folder.
// Play time comes from a virtual clock; the sound goes to SDL's dummy output
// (or to none at all).
#include <QApplication>
#include <QImage>
#include <cstdlib>

#include "gui/karaoke_view.h"
#include "gui/tests/playback_rig.h"

using namespace kestro;
using namespace kestro::gui;
using namespace kestro::gui::playtest;

namespace {

// Two pages of words at known times: the first page comes at 0.5 s, "Fra"
// is sung at 1.0 s, "Martino" at 1.5 s, "campa" at 2.0 s, "naro" at 2.5 s;
// the second page at 3.0 s, "suona" at 3.5 s. The song ends at 4 s.
Bytes8 WordsStream() {
  Stream s;
  s.Line(480, 0, "Fra Martino").Line(480, 1, "campanaro").Line(480, 2, "dormi tu").Line(480, 3, "dormi tu?");
  s.On(960).Step(960).Chord(960, ">C|G|C").Count(960, 3).Count(1440, 10);
  s.Step(1920).Count(1920, 5).Count(2400, 9).Off(2800);
  s.Line(2880, 0, "suona le campane").Line(2880, 1, "din don dan");
  s.On(3360).Step(3360).Count(3360, 5).Off(3800);
  return s.End(3840);
}

// Notes only.
Bytes8 TunelessStream() {
  Stream s;
  s.On(0).Off(900).On(960).Off(1900);
  return s.End(1920);
}

// The screen expected at a play time: four lines with their sung parts.
struct Expected {
  double seconds;
  bool titleCard;
  QStringList lines;
  QStringList sung;
  QString chord;
};

const Expected kWordsScreens[] = {
    {0.2, true, {"FRA MARTINO", "Tradizionale", "", ""}, {"", "", "", ""}, ""},
    {0.7, false, {"Fra Martino", "campanaro", "dormi tu", "dormi tu?"}, {"", "", "", ""}, ""},
    {1.2, false, {"Fra Martino", "campanaro", "dormi tu", "dormi tu?"}, {"Fra", "", "", ""}, "C"},
    {1.7, false, {"Fra Martino", "campanaro", "dormi tu", "dormi tu?"}, {"Fra Martino", "", "", ""}, "C"},
    {2.2, false, {"Fra Martino", "campanaro", "dormi tu", "dormi tu?"}, {"Fra Martino", "campa", "", ""}, "C"},
    {2.7, false, {"Fra Martino", "campanaro", "dormi tu", "dormi tu?"}, {"Fra Martino", "campanaro", "", ""}, "C"},
    {3.2, false, {"suona le campane", "din don dan", "", ""}, {"", "", "", ""}, "C"},
    {3.7, false, {"suona le campane", "din don dan", "", ""}, {"suona", "", "", ""}, "C"},
};

// The screen the view shows, line by line, and what is sung of each.
void CompareShown(const KaraokeView& v, const Expected& e) {
  QCOMPARE(v.Screen().titleCard, e.titleCard);
  for (int i = 0; i < 4; ++i) {
    QCOMPARE(v.LineText(i), e.lines[i]);
    if (!e.titleCard) QCOMPARE(v.SungText(i), e.sung[i]);
  }
  QCOMPARE(QString::fromStdString(v.Screen().chord), e.chord);
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

// The leftmost and rightmost columns of a line's row where `colour` is drawn
// (-1 when it is nowhere).
std::pair<int, int> ColourSpan(const QImage& img, int y, QColor colour) {
  int first = -1, last = -1;
  for (int dy = -3; dy <= 3; ++dy) {
    const int row = y + dy;
    if (row < 0 || row >= img.height()) continue;
    for (int x = 0; x < img.width(); ++x) {
      if (!Near(img.pixelColor(x, row), colour)) continue;
      if (first < 0 || x < first) first = x;
      last = std::max(last, x);
    }
  }
  return {first, last};
}

}  // namespace

class PlaybackWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void karaokeViewShowsPagesAndColouringAtPlayTimes();
  void karaokeViewOfASongWithoutText();
  void playShowsTheWordsInTimeAndStopEndsIt();
  void playWithoutOneSelectedSongOrWhileBusy();
  void noSoundOutputGivesThePlayErrorAndNothingPlays();
  void soundSettingsStartTheDesktopsProgram();
  void floppyMenuItemsWorkOnTheFolder();
};

void PlaybackWindowTest::karaokeViewShowsPagesAndColouringAtPlayTimes() {
  const Bytes8 stream = WordsStream();
  auto song = std::make_shared<const KaraokeTimeline>(
      KaraokeTimeline::FromStream(stream, 25, "FRA MARTINO", "Tradizionale"));
  KaraokeView view;
  view.resize(640, 210);
  view.SetSong(song);
  view.show();
  for (const Expected& e : kWordsScreens) {
    const QByteArray at = QByteArray::number(e.seconds);
    view.ShowAt(e.seconds);
    CompareShown(view, e);
    if (QTest::currentTestFailed()) QFAIL(("at " + at).constData());
    // What is drawn: on each line the sung part left of the rest, in its
    // own colour; no sung colour on a line not yet sung.
    const QImage img = view.grab().toImage();
    for (int i = 0; i < 4 && !e.titleCard; ++i) {
      const auto sung = ColourSpan(img, view.LineCentreY(i), KaraokeView::kSung);
      const auto rest = ColourSpan(img, view.LineCentreY(i), KaraokeView::kToSing);
      if (e.lines[i].isEmpty()) {
        QVERIFY2(sung.first < 0 && rest.first < 0, (at + " line " + QByteArray::number(i)).constData());
      } else if (e.sung[i].isEmpty()) {
        QVERIFY2(sung.first < 0 && rest.first >= 0, (at + " line " + QByteArray::number(i)).constData());
      } else if (e.sung[i] == e.lines[i]) {
        QVERIFY2(sung.first >= 0 && rest.first < 0, (at + " line " + QByteArray::number(i)).constData());
      } else {
        QVERIFY2(sung.first >= 0 && rest.first >= 0 && sung.second < rest.second && sung.first <= rest.first + 2,
                 (at + " line " + QByteArray::number(i)).constData());
      }
    }
  }
  // Back in time (a song played again) shows the earlier screen.
  view.ShowAt(0.2);
  CompareShown(view, kWordsScreens[0]);
}

void PlaybackWindowTest::karaokeViewOfASongWithoutText() {
  const Bytes8 stream = TunelessStream();
  auto song =
      std::make_shared<const KaraokeTimeline>(KaraokeTimeline::FromStream(stream, 25, "SOLO MUSICA", "Banda"));
  KaraokeView view;
  view.resize(640, 210);
  view.SetSong(song);
  for (double t : {0.0, 1.0, 1.9, 5.0}) {
    view.ShowAt(t);
    QVERIFY(view.Screen().titleCard);
    QCOMPARE(view.LineText(0), QStringLiteral("SOLO MUSICA"));
    QCOMPARE(view.LineText(1), QStringLiteral("Banda"));
  }
  // Title and performer are drawn, in the middle of the screen.
  const QImage img = view.grab().toImage();
  QVERIFY(ColourSpan(img, view.LineCentreY(0), KaraokeView::kToSing).first >= 0);
  QVERIFY(view.LineCentreY(0) > view.height() / 4 && view.LineCentreY(1) < view.height() * 3 / 4);
  // No song: nothing on the screen.
  view.SetSong(nullptr);
  view.ShowAt(1.0);
  QCOMPARE(view.LineText(0), QString());
}

void PlaybackWindowTest::playShowsTheWordsInTimeAndStopEndsIt() {
  AudioDriver dummy("dummy");
  Rig rig;
  QVERIFY(!rig.Song("FRAMART", WordsStream(), "FRA MARTINO", "Tradizionale").empty());
  QVERIFY(!rig.Song("SOLO", TunelessStream(), "SOLO MUSICA", "Banda").empty());
  rig.Reload();
  QVERIFY(!rig.StopUsable());
  QVERIFY(rig.window->PlayButton()->isEnabled());
  QVERIFY(!rig.window->Karaoke()->isVisible());

  rig.Select({"FRA MARTINO"});
  rig.PressPlay();
  rig.PlayTimeFromClock();
  QCOMPARE(rig.Texts(), std::vector<std::string>{rig.T("MSG_PLAY_QUALITY")});
  QVERIFY(rig.app().playback.Playing());
  QVERIFY(!rig.app().cycle.busy);
  QVERIFY(rig.StopUsable());
  QVERIFY(rig.window->FollowingPlayback());
  for (const Expected& e : kWordsScreens) {
    rig.At(e.seconds);
    QVERIFY(rig.window->Karaoke()->isVisible());
    CompareShown(*rig.window->Karaoke(), e);
    if (QTest::currentTestFailed()) QFAIL(("at " + QByteArray::number(e.seconds)).constData());
  }

  // Another song replaces it, without the notice again; no words: its title.
  rig.Select({"SOLO MUSICA"});
  rig.PressPlay();
  rig.At(1.0);
  QCOMPARE(rig.shown.size(), size_t{1});
  QVERIFY(rig.window->Karaoke()->isVisible());
  QVERIFY(rig.window->Karaoke()->Screen().titleCard);
  QCOMPARE(rig.window->Karaoke()->LineText(0), QStringLiteral("SOLO MUSICA"));
  QCOMPARE(rig.window->Karaoke()->LineText(1), QStringLiteral("Banda"));

  // STOP: silence, the panel goes, STOP rests.
  QTest::mouseClick(rig.window->StopButton(), Qt::LeftButton);
  QVERIFY(!rig.app().playback.Playing());
  QVERIFY(!rig.window->Karaoke()->isVisible());
  QVERIFY(!rig.StopUsable());
  QVERIFY(!rig.window->FollowingPlayback());
  QVERIFY(rig.window->PlayButton()->isEnabled());

  // The stop menu item does the same, also while busy.
  rig.Select({"FRA MARTINO"});
  rig.PressPlay();
  QVERIFY(rig.app().playback.Playing());
  rig.app().cycle.busy = true;
  QVERIFY(rig.window->OnCommand(kStopPlaybackMenu));
  rig.app().cycle.busy = false;
  QVERIFY(!rig.app().playback.Playing());
  QVERIFY(!rig.StopUsable());
}

void PlaybackWindowTest::playWithoutOneSelectedSongOrWhileBusy() {
  AudioDriver dummy("dummy");
  Rig rig;
  QVERIFY(!rig.Song("A", TunelessStream(), "ALFA", "Uno").empty());
  QVERIFY(!rig.Song("B", TunelessStream(), "BETA", "Due").empty());
  rig.Reload();
  const std::string noSong = rig.T("MSG_NO_SONG_HD_SELECTED");
  for (const QStringList& selection : {QStringList{}, QStringList{"ALFA", "BETA"}}) {
    rig.shown.clear();
    rig.Select(selection);
    rig.PressPlay();
    QCOMPARE(rig.Texts(), std::vector<std::string>{noSong});
    QCOMPARE(rig.shown[0].caption, rig.T("MSG_CAPTION_INFO"));
    QVERIFY(!rig.app().playback.Playing());
    QVERIFY(!rig.app().cycle.busy);
    QVERIFY(!rig.StopUsable());
  }
  // While another operation runs, PLAY does nothing at all.
  rig.shown.clear();
  rig.Select({"ALFA"});
  rig.app().cycle.busy = true;
  rig.PressPlay();
  QVERIFY(rig.shown.empty());
  QVERIFY(!rig.app().playback.Playing());
  rig.app().cycle.busy = false;
  // A song that cannot be converted plays nothing and says nothing.
  const Bytes8 broken = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M',
                         'T', 'r', 'k', 0,   0, 0, 0, 0xFF, 0x00, 0xFF, 0x00, 0x3C, 0x40};
  QVERIFY(!rig.Song("ROTTA", broken, "ROTTA", "Nessuno").empty());
  rig.Reload();
  rig.Select({"ROTTA"});
  rig.PressPlay();
  QCOMPARE(rig.Texts(), std::vector<std::string>{rig.T("MSG_PLAY_QUALITY")});
  QVERIFY(!rig.app().playback.Playing());
  QVERIFY(!rig.window->Karaoke()->isVisible());
  QVERIFY(!rig.StopUsable());
}

void PlaybackWindowTest::noSoundOutputGivesThePlayErrorAndNothingPlays() {
  AudioDriver none("kestro-no-such-output");
  Rig rig;
  QVERIFY(!rig.Song("FRAMART", WordsStream(), "FRA MARTINO", "Tradizionale").empty());
  rig.Reload();
  rig.Select({"FRA MARTINO"});
  rig.PressPlay();
  QCOMPARE(rig.shown.size(), size_t{2});
  QCOMPARE(rig.shown[0].text, rig.T("MSG_PLAY_QUALITY"));
  QVERIFY(QString::fromStdString(rig.shown[1].text).startsWith(
      QString::fromStdString(rig.T("MSG_PLAY_ERROR")).section(QLatin1Char('%'), 0, 0)));
  QCOMPARE(rig.shown[1].caption, rig.T("MSG_CAPTION_WARNING"));
  QVERIFY(!rig.app().playback.Playing());
  QVERIFY(!rig.app().cycle.busy);
  QVERIFY(!rig.StopUsable());
  QVERIFY(!rig.window->FollowingPlayback());
  QVERIFY(!rig.window->Karaoke()->isVisible());
}

void PlaybackWindowTest::soundSettingsStartTheDesktopsProgram() {
  Rig rig;
  const QByteArray oldPath = qgetenv("PATH");
  const fs::path bin = rig.home.path() / "bin";
  fs::create_directories(bin);
  qputenv("PATH", QByteArray::fromStdString(bin.string()));
  // No sound settings program: the play error.
  QVERIFY(rig.window->ActionFor(kSoundSettings)->isEnabled());
  QVERIFY(rig.window->OnCommand(kSoundSettings));
  QCOMPARE(rig.shown.size(), size_t{2});
  QCOMPARE(rig.shown[0].text, rig.T("MSG_PLAY_QUALITY"));
  QVERIFY(QString::fromStdString(rig.shown[1].text).startsWith(
      QString::fromStdString(rig.T("MSG_PLAY_ERROR")).section(QLatin1Char('%'), 0, 0)));
  // With one, it is started; the notice is not shown again.
  const fs::path ran = rig.home.path() / "ran";
  WriteTextFile(bin / "pavucontrol", "#!/bin/sh\necho started > '" + ran.string() + "'\n");
  fs::permissions(bin / "pavucontrol", fs::perms::owner_all);
  QVERIFY(rig.window->OnCommand(kSoundSettings));
  qputenv("PATH", oldPath);
  QCOMPARE(rig.shown.size(), size_t{2});
  QTRY_VERIFY_WITH_TIMEOUT(fs::exists(ran), 5000);
}

void PlaybackWindowTest::floppyMenuItemsWorkOnTheFolder() {
  Rig rig;
  QVERIFY(!rig.Song("ALFA", TunelessStream(), "ALFA", "Uno").empty());
  QVERIFY(!rig.Song("BETA", TunelessStream(), "BETA", "Due").empty());
  QVERIFY(!rig.Song("GAMMA", TunelessStream(), "GAMMA", "Tre").empty());
  rig.Reload();
  QAction* exportItem = rig.window->ActionFor(kExportToFloppy);
  QAction* importItem = rig.window->ActionFor(kImportFromFloppy);
  QVERIFY(!exportItem->isEnabled());
  QVERIFY(importItem->isEnabled());

  // The export follows the selection and copies it.
  rig.Select({"ALFA", "GAMMA"});
  QVERIFY(exportItem->isEnabled());
  rig.answers = {kIdOk};
  exportItem->trigger();
  QVERIFY(fs::exists(rig.floppy / "ALFA.MF4"));
  QVERIFY(fs::exists(rig.floppy / "GAMMA.MF4"));
  QVERIFY(!fs::exists(rig.floppy / "BETA.MF4"));
  QVERIFY(!rig.app().cycle.busy);
  QCOMPARE(rig.shown[0].text, rig.T("MSG_DIALOG_INSERT_FLOPPY"));

  // While busy neither item runs.
  rig.shown.clear();
  rig.app().cycle.busy = true;
  QVERIFY(!rig.window->OnCommand(kExportToFloppy));
  QVERIFY(!rig.window->OnCommand(kImportFromFloppy));
  rig.app().cycle.busy = false;
  QVERIFY(rig.shown.empty());

  // The import brings a new song in and shows it in the PC list; a song of
  // the same title and performer is asked about (No keeps the PC's).
  fs::remove(rig.floppy / "GAMMA.MF4");
  fs::rename(rig.songs / "BETA.MF4", rig.floppy / "BETA.MF4");
  rig.Reload();
  QCOMPARE(rig.window->PcModel()->rowCount(), 2);
  rig.answers = {kIdOk, kIdNo};
  importItem->trigger();
  QCOMPARE(rig.window->PcModel()->rowCount(), 3);
  QVERIFY(fs::exists(rig.songs / "BETA.MF4"));
  const std::vector<std::string> want = {rig.T("MSG_DIALOG_INSERT_FLOPPY"), rig.env->TF("MSG_ALREADY_EXIST", "ALFA"),
                                         rig.T("MSG_1_SONG_IMPORTED_FROM_FLOPPY")};
  QCOMPARE(rig.Texts(), want);
  QVERIFY(!rig.app().cycle.busy);

  // No floppy folder: the import says there are no songs.
  rig.shown.clear();
  rig.profile.WriteString("PATH", "Floppy", (rig.home.path() / "gone").string());
  rig.answers = {kIdOk};
  importItem->trigger();
  QCOMPARE(rig.Texts(), (std::vector<std::string>{rig.T("MSG_DIALOG_INSERT_FLOPPY"), rig.T("MSG_NO_MF4_IN_THIS_FLOPPY")}));
  QCOMPARE(rig.window->PcModel()->rowCount(), 3);
}

QTEST_MAIN(PlaybackWindowTest)
#include "playback_test.moc"
