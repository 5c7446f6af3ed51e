// The program as a user starts it with `kestro --simulated`, on a real X
// server (Xvfb), against zumbla-sim over its socket: the medium is committed,
// a karaoke file dropped on the PC list is imported, dragged to the player
// list, listed there and lies on the card; a simulator that hangs up in the
// middle of a transfer loses nothing; the other media show; a shutdown
// request closes the window. Screenshots of each medium land in
// BUILD/screenshots.
#include <QApplication>
#include <QDragEnterEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "gui/general_message.h"
#include "gui/look.h"
#include "gui/main_window.h"
#include "gui/message_dialog.h"
#include "gui/program.h"
#include "gui/progress_dialog.h"
#include "gui/simulated_player.h"
#include "gui/song_list_view.h"
#include "gui/transfer_arrows.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

using namespace kestro;
using namespace kestro::gui;
namespace fs = std::filesystem;

namespace {

// A karaoke song (a one-track MIDI file) with its title and words.
Bytes KaraokeSong(const std::string& title, int verses) {
  Bytes track;
  auto varLen = [&](uint32_t v) {
    uint8_t buf[4];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = static_cast<uint8_t>((v & 0x7F) | 0x80);
    while (n) track.push_back(buf[--n]);
  };
  auto meta = [&](uint32_t delta, uint8_t type, const std::string& text) {
    varLen(delta);
    track.insert(track.end(), {0xFF, type});
    varLen(static_cast<uint32_t>(text.size()));
    track.insert(track.end(), text.begin(), text.end());
  };
  auto event = [&](uint32_t delta, std::initializer_list<uint8_t> bytes) {
    varLen(delta);
    track.insert(track.end(), bytes);
  };
  meta(0, 0x03, title);
  for (int i = 0; i < verses * 8; ++i) {
    meta(i == 0 ? 100 : 56, 0x01, i % 8 == 7 ? "/na" : " la");
    event(0, {0x90, 0x40, 0x50});
    event(40, {0x80, 0x40, 0x40});
  }
  event(0, {0xFF, 0x2F, 0x00});
  Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
  uint32_t n = static_cast<uint32_t>(track.size());
  file.insert(file.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

bool DropOn(SongListView* view, QMimeData* mime) {
  QPoint at = view->viewport()->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &enter);
  QDragMoveEvent move(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &move);
  QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &drop);
  return drop.isAccepted();
}

int RowOfTitle(SongListModel* m, const std::string& title) {
  for (int row = 0; row < m->rowCount(); ++row) {
    if (m->RecordOfRow(row)->title == title) return row;
  }
  return -1;
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

class WindowEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void aSessionWithTheSimulatedPlayer();
  void cleanupTestCase();

 private:
  void Answer();
  void Shot(const QString& medium);

  std::unique_ptr<testing::TempDir> home_;
  std::unique_ptr<Program> program_;
  QTimer answerer_;
  QStringList seen_;  // captions and texts of the boxes answered
  QStringList shotsTaken_;
  bool declineReprogram_ = true;
};

void WindowEndToEnd::initTestCase() {
  home_ = std::make_unique<testing::TempDir>();
  qputenv("ZUMBLA_HOME", QByteArray::fromStdString(home_->path().string()));
  fs::path install = home_->path() / "inst";
  testing::FillInstallDir(install);
  fs::create_directories(home_->path() / "songs");
  ProfileFile profile(home_->path() / "Zumbla.INI");
  profile.WriteString("PATH", "Installpath", install.string());
  profile.WriteString("PATH", "OLD_MF4", (home_->path() / "songs").string());
  // Every box is answered the way a user getting on with the job would.
  answerer_.setInterval(50);
  connect(&answerer_, &QTimer::timeout, this, &WindowEndToEnd::Answer);
  answerer_.start();
}

void WindowEndToEnd::Answer() {
  // The dialogs on the way, once each, beside the window's screenshots.
  auto keep = [this](QWidget* dialog, const QString& name) {
    if (!dialog || !dialog->isVisible() || shotsTaken_.contains(name)) return;
    shotsTaken_ << name;
    fs::path dir = testing::BuildDir() / "screenshots";
    fs::create_directories(dir);
    dialog->grab().save(QString::fromStdString((dir / ("dialog-" + name.toStdString() + ".png")).string()));
  };
  if (program_ && program_->Window()) keep(program_->Ui().ProgressWindow(), QStringLiteral("progress"));
  QWidget* w = QApplication::activeModalWidget();
  if (qobject_cast<GeneralMessage*>(w)) keep(w, QStringLiteral("first-connection"));
  if (auto* d = qobject_cast<MessageDialog*>(w)) {
    keep(d, QStringLiteral("message-") + QString::number(d->Geometry().b3.visible + 2 * d->Geometry().b2.visible));
    seen_ << d->windowTitle();
    bool reprogram = d->windowTitle() == FromLatin1(program_->Environment()->T("ZUMBLA_REPROG_TITLE"));
    int button = reprogram && declineReprogram_ ? d->DecliningButton() : 1;
    d->Button(button)->click();
  } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
    seen_ << box->text();
    box->button(box->standardButtons() & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok)->click();
  }
}

void WindowEndToEnd::Shot(const QString& medium) {
  fs::path dir = testing::BuildDir() / "screenshots";
  fs::create_directories(dir);
  QCoreApplication::processEvents();
  QVERIFY(program_->Window()->grab().save(QString::fromStdString((dir / ("window-" + medium.toStdString() + ".png")).string())));
}

void WindowEndToEnd::aSessionWithTheSimulatedPlayer() {
  ProgramOptions options;
  options.simulated = true;
  program_ = std::make_unique<Program>(options);
  QCOMPARE(program_->Start(), std::optional<int>());
  MainWindow* w = program_->Window();
  QVERIFY(w->isVisible());
  ProfileFile& profile = program_->Environment()->profile;
  SimulatedPlayer* sim = program_->Simulator();
  QVERIFY(sim && sim->Running());
  QCOMPARE(profile.GetString("Link", "Simulator", ""), sim->Socket());
  QCOMPARE(profile.GetInt("SETTINGS", "KESTROACTIVE", 0), 2);
  ConnectionCycle& cycle = w->app().cycle;

  // The card is committed within a few ticks, formatted as a new card is.
  QTRY_COMPARE_WITH_TIMEOUT(cycle.currentMedium, 1, 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!cycle.busy, 5000);
  QCOMPARE(w->StatusPicture(), QStringLiteral("STATUSOK"));
  QCOMPARE(w->MediumPicture(), QStringLiteral("ZUMFLASH"));
  QCOMPARE(w->Arrows()->Arrows(), QStringLiteral("FRECCE"));
  QVERIFY(w->PlayerView()->isEnabled());
  QVERIFY(w->ActionFor(kFormatCard)->isEnabled());
  QCOMPARE(w->PlayerCaption(), FromLatin1(program_->Environment()->T("MSG_LIST_CAPTION_CARD")));
  const int cardSongsBefore = w->PlayerModel()->rowCount();
  Shot("card");

  // A karaoke file from the file manager, dropped on the PC list (with a
  // folder, which is skipped). Titles are stored in capitals.
  fs::path dropped = home_->path() / "Volare.kar";
  Bytes song = KaraokeSong("Volare", 6);
  QVERIFY(WriteBinaryFile(dropped, song));
  fs::create_directories(home_->path() / "a folder");
  {
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped.string())),
                   QUrl::fromLocalFile(QString::fromStdString((home_->path() / "a folder").string()))});
    QVERIFY(DropOn(w->PcView(), &files));
  }
  QTRY_VERIFY_WITH_TIMEOUT(RowOfTitle(w->PcModel(), "VOLARE") >= 0, 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!cycle.busy, 5000);
  QVERIFY(fs::exists(home_->path() / "songs" / "Volare.MF4"));
  QVERIFY(seen_.contains(FromLatin1(program_->Environment()->T("MSG_IMPORT_ONE_SONG_FROM_PC"))));

  // Dragged from the PC list to the player list: on the card.
  int row = RowOfTitle(w->PcModel(), "VOLARE");
  w->PcView()->selectRow(row);
  {
    std::unique_ptr<QMimeData> rows(w->PcModel()->mimeData(w->PcView()->selectionModel()->selectedRows()));
    QVERIFY(DropOn(w->PlayerView(), rows.get()));
  }
  QTRY_VERIFY_WITH_TIMEOUT(RowOfTitle(w->PlayerModel(), "VOLARE") >= 0, 30000);
  QTRY_VERIFY_WITH_TIMEOUT(!cycle.busy, 5000);
  QCOMPARE(w->PlayerModel()->rowCount(), cardSongsBefore + 1);
  QCOMPARE(profile.GetInt("Settings", "mediaChange", 0), 1);
  const library::SongRecord* onCard = w->PlayerModel()->RecordOfRow(RowOfTitle(w->PlayerModel(), "VOLARE"));
  const uint16_t code = onCard->code;
  QVERIFY(!w->app().env.ui.Progress().open);

  // The simulator hangs up in the middle of the next transfer: the progress
  // closes, the window goes on, the PC keeps its song, and the card comes back.
  fs::path other = home_->path() / "Azzurro.kar";
  QVERIFY(WriteBinaryFile(other, KaraokeSong("Azzurro", 40)));
  {
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(other.string()))});
    QVERIFY(DropOn(w->PcView(), &files));
  }
  QTRY_VERIFY_WITH_TIMEOUT(RowOfTitle(w->PcModel(), "AZZURRO") >= 0, 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!cycle.busy, 5000);
  testing::WriteFileOrDie(sim->Folder() / "faults", "drop-after 200\n");
  w->PcView()->selectRow(RowOfTitle(w->PcModel(), "AZZURRO"));
  {
    std::unique_ptr<QMimeData> rows(w->PcModel()->mimeData(w->PcView()->selectionModel()->selectedRows()));
    QVERIFY(DropOn(w->PlayerView(), rows.get()));
  }
  // The user is told that the player was lost on the way.
  QTRY_VERIFY_WITH_TIMEOUT(seen_.contains(QStringLiteral("Kestro - Error:")), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!w->app().env.ui.Progress().open && !cycle.busy, 20000);
  QVERIFY(!w->Closed());
  QVERIFY(fs::exists(home_->path() / "songs" / "Azzurro.MF4"));
  QVERIFY(fs::exists(home_->path() / "songs" / "Volare.MF4"));
  QTRY_VERIFY_WITH_TIMEOUT(cycle.currentMedium == 1 && cycle.PlayerReady() && !cycle.busy, 30000);
  QTRY_VERIFY_WITH_TIMEOUT(RowOfTitle(w->PlayerModel(), "VOLARE") >= 0, 10000);
  QCOMPARE(RowOfTitle(w->PlayerModel(), "AZZURRO"), -1);

  // The card itself: clean for fsck.fat, the song in its folder.
  const fs::path card = sim->Folder() / "card.img";
  sim->Stop();
  QTRY_COMPARE_WITH_TIMEOUT(cycle.currentMedium, -1, 15000);
  QCOMPARE(w->StatusPicture(), QStringLiteral("STATUSOFF"));
  QCOMPARE(w->Arrows()->Arrows(), QStringLiteral("FRECCENO"));
  QVERIFY(!w->PlayerView()->isEnabled());
  Shot("nothing");
  {
    Bytes image = ReadBinaryFile(card).value_or(Bytes());
    QVERIFY(image.size() > 1024);
    uint32_t first = Le32(image, 446 + 8), count = Le32(image, 446 + 12);
    QVERIFY(count > 0 && (static_cast<uint64_t>(first) + count) * 512 <= image.size());
    fs::path part = home_->path() / "part.img";
    QVERIFY(WriteBinaryFile(part, image.data() + static_cast<size_t>(first) * 512, static_cast<size_t>(count) * 512));
    auto fsck = testing::Run({"/usr/sbin/fsck.fat", "-n", part.string()});
    QVERIFY2(fsck.status == 0, fsck.out.c_str());
    char name[16];
    std::snprintf(name, sizeof name, "%05u.MF4", static_cast<unsigned>(code));
    auto dir = testing::Run({"/usr/bin/mdir", "-b", "-i", part.string(), "::/" + std::to_string(code % 31)},
                            {{"MTOOLS_SKIP_CHECK", "1"}, {"MTOOLSRC", "/dev/null"}});
    QVERIFY2(dir.out.find(name) != std::string::npos, dir.out.c_str());
  }

  // The other media, each on a simulator of its own on the same socket.
  const fs::path simProgram = testing::BuiltProgram("zumbla-sim");
  {
    sim::SimProcess ram(simProgram, home_->path() / "ram", sim->Socket(), {"--mode", "ram", "--as", "bulk"});
    QVERIFY(ram.Running());
    QTRY_COMPARE_WITH_TIMEOUT(cycle.currentMedium, 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!cycle.busy, 5000);
    QCOMPARE(w->MediumPicture(), QStringLiteral("ZUMBLAICO"));
    QCOMPARE(w->PlayerCaption(), FromLatin1(program_->Environment()->T("MSG_LIST_CAPTION_RAM")));
    QVERIFY(!w->ActionFor(kFormatCard)->isEnabled());
    QVERIFY(w->ActionFor(kUpdateFirmware)->isEnabled());
    Shot("memory");
  }
  QTRY_COMPARE_WITH_TIMEOUT(cycle.currentMedium, -1, 15000);
  {
    sim::SimProcess busy(simProgram, home_->path() / "busy", sim->Socket(), {"--mode", "busy"});
    QVERIFY(busy.Running());
    QTRY_COMPARE_WITH_TIMEOUT(w->StatusPicture(), QStringLiteral("STATUSBUSY"), 15000);
    QCOMPARE(cycle.currentMedium, -1);
    QTRY_COMPARE(w->PlayerCaption(), FromLatin1(program_->Environment()->T("MSG_LIST_CAPTION_BUSY")));
    Shot("busy");
  }
  {
    sim::SimProcess boot(simProgram, home_->path() / "boot", sim->Socket(), {"--mode", "boot"});
    QVERIFY(boot.Running());
    QTRY_COMPARE_WITH_TIMEOUT(w->StatusPicture(), QStringLiteral("STATUSBOOT"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(seen_.contains(FromLatin1(program_->Environment()->T("ZUMBLA_REPROG_TITLE"))), 5000);
    QVERIFY(!cycle.reprogramRequest);
    QTRY_VERIFY_WITH_TIMEOUT(w->ActionFor(kUpdateFirmware)->isEnabled(), 5000);
    QVERIFY(!w->ActionFor(kFormatCard)->isEnabled());
    QTRY_COMPARE(w->PlayerCaption(), FromLatin1(program_->Environment()->T("MSG_LIST_CAPTION_BOOT")));
    Shot("reprogram");
  }

  // Another program asks Kestro to close.
  const int liveness = profile.GetInt("SETTINGS", "KESTROACTIVE", 0);
  QVERIFY(liveness > 2);
  profile.WriteString("Settings", "KESTROSHUTDOWN", "1");
  QTRY_VERIFY_WITH_TIMEOUT(w->Closed(), 5000);
  QVERIFY(!w->isVisible());
  program_->Finish();
  QCOMPARE(profile.GetInt("SETTINGS", "KESTROACTIVE", -1), 0);
  QCOMPARE(profile.GetInt("Settings", "KESTROSHUTDOWN", -1), 0);
  QCOMPARE(profile.GetString("Link", "Simulator", "none"), std::string());
}

void WindowEndToEnd::cleanupTestCase() {
  answerer_.stop();
  program_.reset();
  home_.reset();
}

QTEST_MAIN(WindowEndToEnd)
#include "window_e2e_test.moc"
