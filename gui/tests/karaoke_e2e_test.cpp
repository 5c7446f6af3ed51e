// A demo song imported as a user would, played from the window on a real X
// server (SDL's dummy output for the sound) in both languages: the karaoke
// panel at its title, while a line is being sung, and on a later page, each
// kept as a screenshot in screenshots/ of the build folder.
#include <QApplication>
#include <QtTest>

#include "gui/karaoke_view.h"
#include "gui/tests/playback_rig.h"
#include "library/song_import.h"

using namespace kestro;
using namespace kestro::gui;
using namespace kestro::gui::playtest;

namespace {

// Moments worth looking at: the title card, the first word sung, a line
// half sung in the middle of the song, the last page.
std::vector<std::pair<std::string, double>> Moments(const KaraokeTimeline& k) {
  std::vector<std::pair<std::string, double>> out = {{"title", 0.1}};
  const auto& changes = k.Changes();
  auto halfSung = [](const KaraokeScreen& s) {
    for (const auto& l : s.lines) {
      if (l.coloured > 0 && l.coloured < l.text.size()) return true;
    }
    return false;
  };
  for (const auto& c : changes) {
    if (halfSung(c.screen)) {
      out.emplace_back("first-word", c.seconds + 0.02);
      break;
    }
  }
  for (size_t i = changes.size() / 2; i < changes.size(); ++i) {
    if (halfSung(changes[i].screen)) {
      out.emplace_back("middle", changes[i].seconds + 0.02);
      break;
    }
  }
  const int lastPage = changes.empty() ? -1 : changes.back().screen.page;
  for (const auto& c : changes) {
    if (c.screen.page == lastPage && lastPage > 0) {
      out.emplace_back("last-page", c.seconds + 0.5);
      break;
    }
  }
  return out;
}

}  // namespace

class KaraokeEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void demoSongPlaysWithItsWords_data();
  void demoSongPlaysWithItsWords();
};

void KaraokeEndToEnd::demoSongPlaysWithItsWords_data() {
  QTest::addColumn<QString>("language");
  QTest::newRow("italiano") << QStringLiteral("ITALIANO");
  QTest::newRow("english") << QStringLiteral("ENGLISH");
}

void KaraokeEndToEnd::demoSongPlaysWithItsWords() {
  QFETCH(QString, language);
  AudioDriver dummy("dummy");
  Rig rig(language.toLatin1().constData());
  const fs::path demo = testing::BuildDir() / "share/kestro/demo/Fra_Martino.kar";
  QVERIFY(fs::exists(demo));
  rig.answers = {kIdYes, kIdYes, kIdYes};
  const library::ImportResult r = library::ImportSongFile(*rig.env, rig.app().conversion, demo, rig.songs);
  QVERIFY(r.outcome == library::ImportOutcome::Imported);
  rig.answers.clear();
  rig.shown.clear();
  rig.Reload();
  QCOMPARE(rig.window->PcModel()->rowCount(), 1);
  rig.window->PcView()->selectRow(0);
  rig.window->resize(1100, 700);

  rig.PressPlay();
  rig.PlayTimeFromClock();
  QVERIFY(rig.app().playback.Playing());
  auto song = rig.app().playback.Karaoke();
  QVERIFY(song && song->HasText());
  const auto moments = Moments(*song);
  QCOMPARE(moments.size(), size_t{4});

  const fs::path dir = testing::BuildDir() / "screenshots";
  fs::create_directories(dir);
  const std::string lang = language.toLower().toStdString();
  KaraokeView* view = rig.window->Karaoke();
  for (const auto& [name, seconds] : moments) {
    rig.At(seconds);
    QCoreApplication::processEvents();
    QVERIFY(view->isVisible());
    QVERIFY(!view->LineText(0).isEmpty());
    if (name == "title") {
      QVERIFY(view->Screen().titleCard);
    } else {
      QVERIFY(!view->Screen().titleCard);
    }
    if (name == "first-word" || name == "middle") {
      bool half = false;
      for (int i = 0; i < 4; ++i) half = half || (!view->SungText(i).isEmpty() && view->SungText(i) != view->LineText(i));
      QVERIFY2(half, name.c_str());
    }
    const fs::path shot = dir / ("karaoke-" + lang + "-" + name + ".png");
    QVERIFY(view->grab().save(QString::fromStdString(shot.string())));
    if (name == "middle") {
      QVERIFY(rig.window->grab().save(QString::fromStdString((dir / ("window-playing-" + lang + ".png")).string())));
    }
  }
  QTest::mouseClick(rig.window->StopButton(), Qt::LeftButton);
  QVERIFY(!view->isVisible());
}

QTEST_MAIN(KaraokeEndToEnd)
#include "karaoke_e2e_test.moc"
