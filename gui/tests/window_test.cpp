// What only the main window does: the dispatch of every command identifier
// and the busy guard, the menu states per medium, the selection that only
// one list holds, the column clicks, and drops that must not transfer. The
// window runs with its real user interface (message boxes answered by the
// test) and without a player: the link's socket leads nowhere.
#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>

#include "context/install_folder.h"
#include "gui/commands.h"
#include "gui/file_import.h"
#include "gui/single_instance.h"
#include "gui/main_window.h"
#include "gui/menu_states.h"
#include "gui/program.h"
#include "gui/look.h"
#include "gui/qt_ui.h"
#include "gui/song_list_view.h"
#include "gui/splash.h"
#include "library/lists.h"
#include "platform/format.h"
#include "platform/version.h"
#include "platform/testing/testsupport.h"

using namespace kestro;
using namespace kestro::gui;
namespace fs = std::filesystem;

namespace {

library::SongRecord Song(const std::string& title, const std::string& author, const std::string& file) {
  library::SongRecord r;
  r.title = title;
  r.author = author;
  r.genre = "Pop";
  r.fileName = file;
  return r;
}

// A window with an install folder, a settings file of its own and no player.
struct Rig {
  Rig() {
    testing::FillInstallDir(install);
    fs::create_directories(songs);
    fs::create_directories(cardFolder);
    profile.WriteString("PATH", "Installpath", install.string());
    profile.WriteString("PATH", "OLD_MF4", songs.string());
    profile.WriteString("Link", "Simulator", (home.path() / "nobody.sock").string());
    dict.Load(install, profile, ui);
    ui.SetDictionary(&dict);
    ui.answerMessages = [this](const MessageRequest& r) {
      shown.push_back(r);
      if (!IsQuestion(r.style)) return kIdOk;
      if (!answers.empty()) {
        int a = answers.front();
        answers.pop_front();
        return a;
      }
      return ButtonsForStyle(r.style) == Buttons::YesNo ? kIdNo : kIdCancel;
    };
    ui.answerOpenFiles = [this](const OpenFileRequest& r) -> std::optional<OpenFileResult> {
      openRequests.push_back(r);
      return std::nullopt;
    };
    env = std::make_unique<Env>(Env{ui, clock, profile, dict, install});
    FtdiLibrary none;
    window = std::make_unique<MainWindow>(*env, ProgramChannels(*env, none));
    window->Prepare();
    window->show();
  }
  ~Rig() {
    window.reset();
    fs::current_path(fs::temp_directory_path());
  }

  App& app() { return window->app(); }
  std::string T(const char* key) const { return dict.GetText(key); }
  bool Showed(const std::string& text) const {
    for (const auto& m : shown) {
      if (m.text == text) return true;
    }
    return false;
  }
  // Settles a medium without a player, as far as the window can tell.
  void Medium(int medium) {
    app().cycle.currentMedium = medium;
    app().cycle.lastReading = medium;
    app().cycle.newReading = medium;
    app().cycle.SyncLibrary();
  }
  // Lists of our own making, shown.
  void Fill(library::SongList pc, library::SongList player) {
    app().lib.pc = std::move(pc);
    app().lib.player = std::move(player);
    window->RefreshListViews();
  }
  std::vector<std::string> Titles(SongListModel* m) {
    std::vector<std::string> out;
    for (int row = 0; row < m->rowCount(); ++row) out.push_back(m->RecordOfRow(row)->title);
    return out;
  }

  testing::TempDir home;
  fs::path install = home.path() / "inst";
  fs::path songs = home.path() / "songs";
  fs::path cardFolder = home.path() / "card";
  QtUi ui;
  VirtualClock clock;
  ProfileFile profile{home.path() / "Zumbla.INI"};
  Dictionary dict;
  std::unique_ptr<Env> env;
  std::unique_ptr<MainWindow> window;
  std::vector<MessageRequest> shown;
  std::deque<int> answers;
  std::vector<OpenFileRequest> openRequests;
};

// Drags `mime` over `view` and lets it go; whether the view took it.
bool DropOn(SongListView* view, QMimeData* mime) {
  QPoint at = view->viewport()->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &enter);
  QDragMoveEvent move(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &move);
  QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &drop);
  QCoreApplication::processEvents();
  return drop.isAccepted();
}

void ClickHeader(SongListView* view, int section) {
  QHeaderView* h = view->horizontalHeader();
  QPoint at(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class Window : public QObject {
  Q_OBJECT

 private slots:
  void everyIdentifierReachesItsCommand();
  void busyFlagGuardsTheGuardedCommands();
  void menuStatesFollowTheMedium_data();
  void menuStatesFollowTheMedium();
  void onlyOneListHasASelection();
  void columnClicksSortReverseAndRestore();
  void columnsFitANarrowWindowUntilTheUserSizesThem();
  void dropsTransferOnlyBetweenTheLists();
  void deleteKeyInThePcListAsksForThePcSongs();
  void mainTickReloadsNewSongsAndSurvivesGarbage();
  void aSecondStartRaisesTheFirst();
  void demoSongsOnlyIntoAnEmptyFolder();
  void withoutADisplayTheListsComeAsText();
  void theLanguageMenuKeepsTheChoiceForTheNextStart();
  void aFirstStartLaysOutTheInstallFolderAndTakesFiles();
};

void Window::everyIdentifierReachesItsCommand() {
  // Every identifier the window knows, and nothing else.
  const std::vector<std::pair<int, Action>> expected = {
      {48, Action::Delete},         {1018, Action::Delete},           {1106, Action::Delete},
      {40014, Action::Delete},      {40042, Action::Delete},          {104, Action::SaveListCsv},
      {107, Action::HelpPage},      {109, Action::VersionText},       {114, Action::SelectAllPc},
      {129, Action::SelectAllPc},   {139, Action::TransferToPc},      {1109, Action::TransferToPc},
      {40006, Action::TransferToPc}, {1110, Action::TransferToPlayer}, {40007, Action::TransferToPlayer},
      {1004, Action::Search},       {1112, Action::Search},           {40011, Action::Search},
      {40044, Action::Search},      {1014, Action::StopPlayback},     {1113, Action::StopPlayback},
      {40016, Action::StopPlayback}, {1111, Action::Print},           {40002, Action::Print},
      {40045, Action::Print},       {40003, Action::FormatCard},      {40022, Action::PlayerOptions},
      {40028, Action::UpdateFirmware}, {40030, Action::SoundSettings}, {40031, Action::RegenerateIndexes},
      {40032, Action::Exit},        {40043, Action::ClearBusy},       {40059, Action::ExportToFloppy},
      {40060, Action::ImportFromFloppy}, {40061, Action::PlayerInformation}, {40062, Action::KestroInformation},
      {40063, Action::ImportFromPc}};
  QCOMPARE(std::size(kCommandTable), expected.size());
  for (auto [id, action] : expected) {
    auto e = FindCommand(id);
    QVERIFY2(e && e->action == action, qPrintable(QString::number(id)));
  }
  QVERIFY(!FindCommand(12345));

  auto pcSongs = [] {
    return library::SongList{Song("Volare", "Modugno", "/x/Volare.MF4"), Song("Azzurro", "Celentano", "/x/Azzurro.MF4")};
  };

  // Delete: the PC selection first, after the question.
  for (int id : {48, 1018, 1106, 40014, 40042}) {
    Rig r;
    r.Fill(pcSongs(), {});
    r.window->PcView()->selectRow(0);
    QVERIFY(r.window->OnCommand(id));
    QVERIFY2(r.Showed(Fmt(r.T("MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY"), 1)), qPrintable(QString::number(id)));
    QCOMPARE(r.app().lib.pc.size(), 2u);
  }
  // Transfers: to the player marks the medium changed first; both need a
  // settled medium.
  for (int id : {1110, 40007, 139, 1109, 40006}) {
    Rig r;
    r.Fill(pcSongs(), {});
    QVERIFY(r.window->OnCommand(id));
    QVERIFY2(r.Showed(r.T("MSG_ZUMNET_BUSY")), qPrintable(QString::number(id)));
    r.shown.clear();
    r.Medium(2);
    r.window->OnCommand(id);
    bool toPlayer = id == 1110 || id == 40007;
    QCOMPARE(r.profile.GetInt("Settings", "mediaChange", 0), toPlayer ? 1 : 0);
  }
  {
    Rig r;
    QVERIFY(r.window->OnCommand(109));
    QVERIFY(r.Showed(Fmt(r.T("MSG_ZUMSOFT_VERSION"), kKestroVersion)));
  }
  for (int id : {114, 129}) {
    Rig r;
    r.Fill(pcSongs(), {});
    QVERIFY(r.window->OnCommand(id));
    QCOMPARE(r.window->PcView()->SelectedRecords(), (std::vector<int>{0, 1}));
  }
  {
    // The format and the index rebuild, on a card in a card reader.
    Rig r;
    r.profile.WriteString("PATH", "Flashdrive", r.cardFolder.string());
    r.Medium(0);
    QVERIFY(r.window->OnCommand(40003));
    QVERIFY(r.Showed(Fmt(r.T("MSG_SURE_TO_FORMAT_THIS_UNIT"), r.cardFolder.string())));
    r.answers.push_back(kIdNo);
    QVERIFY(r.window->OnCommand(40031));
    QCOMPARE(r.ui.Progress().pendingTitle, r.T("MSG_REGEN_INDEX_FILE"));
  }
  {
    // The firmware update without the web: the question for a file of one's own.
    Rig r;
    r.profile.WriteString("Settings", "WebUpdate", "0");
    QVERIFY(r.window->OnCommand(40028));
    QVERIFY(r.Showed(r.T("MSG_DOWNLOAD_NOT_POSSIBLE")));
  }
  {
    Rig r;
    QVERIFY(r.window->OnCommand(40061));
    QVERIFY(!r.shown.empty());
    QVERIFY(QString::fromStdString(r.shown.back().text).startsWith("Kestro release 1.3\n\n"));
    QCOMPARE(r.shown.back().caption, std::string("System Info"));
  }
  {
    Rig r;
    QVERIFY(r.window->OnCommand(40062));
    QVERIFY(r.window->findChild<Splash*>());
    QVERIFY(r.window->findChild<Splash*>()->isVisible());
    QVERIFY(!r.app().cycle.busy);
  }
  {
    Rig r;
    QVERIFY(r.window->OnCommand(40063));
    QCOMPARE(r.openRequests.size(), 1u);
    QCOMPARE(r.openRequests[0].title, r.T("MSG_IMPORT_CHOOSER_TITLE"));
    QCOMPARE(r.openRequests[0].patterns, std::string("*.MID;*.KAR;*.MF3;*.MF4;*.MP3"));
  }
  {
    Rig r;
    r.app().cycle.busy = true;
    QVERIFY(r.window->OnCommand(40043));
    QVERIFY(!r.app().cycle.busy);
    QVERIFY(r.window->OnCommand(40032));
    QVERIFY(r.window->Closed());
    QVERIFY(!r.window->isVisible());
  }
  {
    // Every dialog is there: the menu items of the dialogs are enabled.
    Rig r;
    r.Fill(pcSongs(), {});
    r.Medium(1);
    r.window->UpdateMenuStates();
    for (int id : {104, 107, 1004, 1112, 40011, 40044, 1111, 40002, 40045, 40022, 40030}) {
      if (QAction* a = r.window->ActionFor(id)) QVERIFY2(a->isEnabled(), qPrintable(QString::number(id)));
    }
    // The stop commands run with nothing playing, and say nothing.
    for (int id : {1014, 1113, 40016}) QVERIFY2(r.window->OnCommand(id), qPrintable(QString::number(id)));
    QVERIFY(r.shown.empty());
  }
}

void Window::busyFlagGuardsTheGuardedCommands() {
  Rig r;
  r.Fill({Song("Volare", "Modugno", "/x/Volare.MF4")}, {});
  r.window->PcView()->selectRow(0);
  for (const CommandEntry& e : kCommandTable) {
    if (e.guard == Guard::None || !ActionAvailable(e.action)) continue;
    r.app().cycle.busy = true;
    QVERIFY2(!r.window->OnCommand(e.id), qPrintable(QString::number(e.id)));
    QVERIFY(r.app().cycle.busy);
  }
  QVERIFY(r.shown.empty());
  QVERIFY(r.openRequests.empty());
  QVERIFY(!r.window->findChild<Splash*>());

  // The unguarded ones run: the version text shows; a transfer to the player
  // is refused by the operation itself, without a word.
  QVERIFY(r.window->OnCommand(109));
  QCOMPARE(r.shown.size(), 1u);
  QVERIFY(r.window->OnCommand(40007));
  QCOMPARE(r.shown.size(), 1u);
  QVERIFY(r.app().cycle.busy);
  // The main tick only counts while busy.
  int before = r.window->tick.liveness;
  r.window->MainTick();
  QCOMPARE(r.window->tick.liveness, before + 1);
  QCOMPARE(r.profile.GetInt("SETTINGS", "KESTROACTIVE", 0), before + 1);
  QCOMPARE(r.app().cycle.lastReading, -1);
}

void Window::menuStatesFollowTheMedium_data() {
  QTest::addColumn<int>("medium");
  QTest::addColumn<int>("reading");
  QTest::addColumn<int>("webUpdate");
  // 40003 format, 40031 index rebuild, 40022 options, 40028 firmware, 40061 player information
  QTest::addColumn<QString>("enabled");
  QTest::newRow("player card") << 1 << 1 << 1 << "40003 40031 40022 40028 40061";
  QTest::newRow("internal memory") << 2 << 2 << 1 << "40022 40028 40061";
  QTest::newRow("card reader") << 0 << 0 << 1 << "40003 40031 40022";
  QTest::newRow("busy, web") << 3 << 3 << 1 << "40061";
  QTest::newRow("busy, no web") << 3 << 3 << 0 << "40028 40061";
  QTest::newRow("waits for firmware") << -1 << 4 << 1 << "40028 40061";
  QTest::newRow("nothing, web") << -1 << -1 << 1 << "";
  QTest::newRow("nothing, no web") << -1 << -1 << 0 << "40028";
  QTest::newRow("busy reading over a card") << 1 << 3 << 1 << "40003 40031 40022 40028 40061";
}

void Window::menuStatesFollowTheMedium() {
  QFETCH(int, medium);
  QFETCH(int, reading);
  QFETCH(int, webUpdate);
  QFETCH(QString, enabled);
  const int ids[] = {kFormatCard, kRegenerateIndexes, kPlayerOptions, kUpdateFirmware, kPlayerInformation};
  auto states = MenuStates(medium, reading, webUpdate != 0);
  QCOMPARE(states.size(), 5u);
  for (int id : ids) QCOMPARE(states.at(id), enabled.split(' ').contains(QString::number(id)));

  // The window applies them after its tick.
  Rig r;
  r.profile.WriteString("Settings", "WebUpdate", std::to_string(webUpdate));
  r.app().cycle.currentMedium = medium;
  r.app().cycle.newReading = reading;
  r.window->UpdateMenuStates();
  for (int id : ids) {
    bool want = enabled.split(' ').contains(QString::number(id));
    QVERIFY2(r.window->ActionFor(id)->isEnabled() == want, qPrintable(QString::number(id)));
  }
}

void Window::onlyOneListHasASelection() {
  Rig r;
  r.Medium(2);
  r.Fill({Song("A", "x", "/x/A.MF4"), Song("B", "y", "/x/B.MF4")},
         {Song("C", "z", "00001.MF4"), Song("D", "w", "00002.MF4")});
  SongListView* pc = r.window->PcView();
  SongListView* player = r.window->PlayerView();
  QVERIFY(player->isEnabled());
  QTest::mouseClick(pc->viewport(), Qt::LeftButton, {}, pc->visualRect(pc->model()->index(1, 0)).center());
  QCOMPARE(pc->SelectedRecords(), std::vector<int>{1});
  QTest::mouseClick(player->viewport(), Qt::LeftButton, {}, player->visualRect(player->model()->index(0, 0)).center());
  QCOMPARE(player->SelectedRecords(), std::vector<int>{0});
  QVERIFY(pc->SelectedRecords().empty());
  QVERIFY(!pc->currentIndex().isValid());
  QTest::mouseClick(pc->viewport(), Qt::LeftButton, {}, pc->visualRect(pc->model()->index(0, 0)).center());
  QVERIFY(player->SelectedRecords().empty());
  QCOMPARE(pc->SelectedRecords(), std::vector<int>{0});

  // The selection goes into the records the commands act on.
  r.window->CopySelectionToRecords();
  QVERIFY(r.app().lib.pc[0].selected);
  QVERIFY(!r.app().lib.pc[1].selected);
  QVERIFY(!r.app().lib.player[0].selected);
}

void Window::columnClicksSortReverseAndRestore() {
  Rig r;
  r.Fill({Song("Bravo", "Zeta", "/x/1.MF4"), Song("Alfa", "Mike", "/x/2.MF4"), Song("Charlie", "Alfa", "/x/3.MF4")}, {});
  SongListModel* m = r.window->PcModel();
  using V = std::vector<std::string>;
  // No saved order: by title.
  QCOMPARE(r.Titles(m), (V{"Alfa", "Bravo", "Charlie"}));
  r.window->PcView()->selectRow(0);  // "Alfa"

  ClickHeader(r.window->PcView(), 1);
  QCOMPARE(r.Titles(m), (V{"Charlie", "Alfa", "Bravo"}));
  QCOMPARE(r.profile.GetString("SETTINGS", "LISTSORTORDER", ""), std::string("1000"));
  QCOMPARE(r.window->PcView()->horizontalHeader()->sortIndicatorSection(), 1);
  // The selection stays with its song.
  QCOMPARE(r.window->PcView()->SelectedRecords().size(), 1u);
  QCOMPARE(r.app().lib.pc[static_cast<size_t>(r.window->PcView()->SelectedRecords()[0])].title, std::string("Alfa"));

  ClickHeader(r.window->PcView(), 1);
  QCOMPARE(r.Titles(m), (V{"Bravo", "Alfa", "Charlie"}));
  QCOMPARE(r.profile.GetString("SETTINGS", "LISTSORTORDER", ""), std::string("1100"));
  QCOMPARE(r.window->PcView()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

  ClickHeader(r.window->PcView(), 1);
  QCOMPARE(r.Titles(m), (V{"Charlie", "Alfa", "Bravo"}));
  QCOMPARE(r.profile.GetString("SETTINGS", "LISTSORTORDER", ""), std::string("1000"));

  // The records themselves keep their order; the player list its own column.
  QCOMPARE(r.app().lib.pc[0].title, std::string("Alfa"));
  ClickHeader(r.window->PcView(), 0);
  QCOMPARE(r.Titles(m), (V{"Alfa", "Bravo", "Charlie"}));
  QCOMPARE(r.profile.GetString("SETTINGS", "LISTSORTORDER", ""), std::string("0000"));
}

void Window::columnsFitANarrowWindowUntilTheUserSizesThem() {
  Rig r;
  SongListView* pc = r.window->PcView();
  auto sum = [pc] {
    int total = 0;
    for (int c = 0; c < SongListModel::kColumns; ++c) total += pc->columnWidth(c);
    return total;
  };
  // Wide: the configured widths (the last column stretches).
  r.window->resize(1900, 700);
  QCoreApplication::processEvents();
  QCOMPARE(pc->columnWidth(0), 200);
  QCOMPARE(pc->columnWidth(1), 200);
  // Narrow: every column inside the list, in the same proportions.
  r.window->resize(800, 600);
  QCoreApplication::processEvents();
  QVERIFY2(sum() <= pc->viewport()->width(), qPrintable(QString("%1 > %2").arg(sum()).arg(pc->viewport()->width())));
  QVERIFY(pc->columnWidth(0) < 200);
  QCOMPARE(pc->columnWidth(0), pc->columnWidth(1));
  QVERIFY(pc->columnWidth(3) > 0);
  // A column the user dragged keeps its width.
  pc->horizontalHeader()->resizeSection(0, 150);
  r.window->resize(820, 600);
  QCoreApplication::processEvents();
  QCOMPARE(pc->columnWidth(0), 150);
}

void Window::dropsTransferOnlyBetweenTheLists() {
  Rig r;
  r.Medium(2);
  r.Fill({Song("Volare", "Modugno", "/x/Volare.MF4")}, {Song("Azzurro", "Celentano", "00001.MF4")});
  SongListView* pc = r.window->PcView();
  SongListView* player = r.window->PlayerView();
  pc->selectRow(0);
  std::unique_ptr<QMimeData> fromPc(r.window->PcModel()->mimeData(pc->selectionModel()->selectedRows()));

  // Released over the list it came from: nothing happens.
  QVERIFY(!DropOn(pc, fromPc.get()));
  QCoreApplication::processEvents();
  QCOMPARE(r.profile.GetInt("Settings", "mediaChange", 0), 0);
  QVERIFY(r.shown.empty());
  QCOMPARE(r.app().lib.pc.size(), 1u);

  // Released over the player list: the transfer to the player starts (it
  // marks the medium changed before anything else).
  QVERIFY(DropOn(player, fromPc.get()));
  QTRY_COMPARE(r.profile.GetInt("Settings", "mediaChange", 0), 1);

  // No drag starts while an operation runs; songs dropped meanwhile go once
  // it has ended.
  r.profile.WriteString("Settings", "mediaChange", "0");
  r.app().cycle.busy = true;
  QVERIFY(!pc->dragAllowed());
  QVERIFY(DropOn(player, fromPc.get()));
  QTest::qWait(500);
  QCOMPARE(r.profile.GetInt("Settings", "mediaChange", 0), 0);
  r.app().cycle.busy = false;
  QTRY_COMPARE(r.profile.GetInt("Settings", "mediaChange", 0), 1);

  // Without a medium the player list takes nothing at all.
  r.Medium(-1);
  r.window->RefreshListViews();
  QVERIFY(!player->isEnabled());
  QVERIFY(!DropOn(player, fromPc.get()));
}

void Window::deleteKeyInThePcListAsksForThePcSongs() {
  Rig r;
  r.Fill({Song("Volare", "Modugno", "/x/Volare.MF4")}, {});
  r.window->PcView()->selectRow(0);
  r.window->PcView()->setFocus();
  QTest::keyClick(r.window->PcView(), Qt::Key_Delete);
  QCOMPARE(r.shown.size(), 1u);
  QCOMPARE(r.shown[0].caption, r.T("MSG_DELETE_SONG_FROM_HD"));
  QCOMPARE(r.app().lib.pc.size(), 1u);
}

void Window::mainTickReloadsNewSongsAndSurvivesGarbage() {
  Rig r;
  QCOMPARE(r.window->PcModel()->rowCount(), 0);
  // Another program puts a song into the folder and says so.
  fs::copy_file(testing::BuiltDataDir() / "DICT.DIC", r.songs / "NEW SONG.MF4");
  r.window->MainTick();
  QCOMPARE(r.window->PcModel()->rowCount(), 0);
  r.profile.WriteString("SETTINGS", "NEWSONGS", "1");
  int liveness = r.window->tick.liveness;
  r.window->MainTick();
  QCOMPARE(r.window->PcModel()->rowCount(), 1);
  QCOMPARE(r.profile.GetInt("SETTINGS", "NEWSONGS", -1), 0);
  QCOMPARE(r.profile.GetInt("SETTINGS", "KESTROACTIVE", 0), liveness + 1);
  QCOMPARE(r.window->StatusLineShown(0), FromLatin1(r.env->TF("MSG_MF3INFOLDER", 1)));
  QCOMPARE(r.window->StatusLineShown(2), FromLatin1(r.T("MSG_MESSAGE_CF6")));

  // The settings file overwritten with garbage: the ticks go on.
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131) % 256);
  testing::WriteFileOrDie(r.profile.Path(), garbage);
  r.window->MainTick();
  r.window->MainTick();
  QVERIFY(!r.window->Closed());
  QCOMPARE(r.app().cycle.currentMedium, -1);

  // A shutdown request closes it at the next tick.
  r.profile.WriteString("Settings", "KESTROSHUTDOWN", "1");
  r.window->MainTick();
  QVERIFY(r.window->Closed());
}

void Window::aSecondStartRaisesTheFirst() {
  testing::TempDir settings;
  SingleInstance first(settings.path());
  QVERIFY(first.Claim());
  int raised = 0;
  connect(&first, &SingleInstance::raiseRequested, this, [&] { ++raised; });
  SingleInstance second(settings.path());
  QVERIFY(!second.Claim());
  QTRY_COMPARE(raised, 1);
  // Another settings folder is another Kestro.
  testing::TempDir other;
  SingleInstance third(other.path());
  QVERIFY(third.Claim());
  first.Release();
  SingleInstance fourth(settings.path());
  QVERIFY(fourth.Claim());
}

void Window::demoSongsOnlyIntoAnEmptyFolder() {
  Rig r;
  fs::path demo = r.home.path() / "demo";
  fs::create_directories(demo);
  fs::copy_file(testing::BuiltDataDir() / "DICT.DIC", demo / "DEMO.MF4");
  testing::WriteFileOrDie(demo / "README.txt", "not a song");
  QCOMPARE(ImportDemoSongs(*r.env, demo, r.songs), 1);
  QVERIFY(fs::exists(r.songs / "DEMO.MF4"));
  QVERIFY(!fs::exists(r.songs / "README.txt"));
  fs::copy_file(testing::BuiltDataDir() / "DICT.DIC", demo / "SECOND.MF4");
  QCOMPARE(ImportDemoSongs(*r.env, demo, r.songs), 0);
  QVERIFY(!fs::exists(r.songs / "SECOND.MF4"));
  QVERIFY(r.shown.empty());
}

void Window::withoutADisplayTheListsComeAsText() {
  testing::TempDir home;
  fs::path install = home.path() / "inst";
  testing::FillInstallDir(install);
  fs::create_directories(home.path() / "songs");
  ProfileFile profile(home.path() / "Zumbla.INI");
  profile.WriteString("PATH", "Installpath", install.string());
  profile.WriteString("PATH", "OLD_MF4", (home.path() / "songs").string());
  fs::copy_file(testing::BuiltDataDir() / "DICT.DIC", home.path() / "songs" / "Volare.MF4");
  const std::map<std::string, std::string> noDisplay = {
      {"ZUMBLA_HOME", home.path().string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  auto run = testing::Run({testing::BuiltProgram("kestro").string(), "--simulated"}, noDisplay);
  QCOMPARE(run.status, 0);
  std::string firstLine = run.out.substr(0, run.out.find('\n'));
  QVERIFY2(firstLine.find("needs a desktop") != std::string::npos, run.out.c_str());
  QVERIFY(firstLine.find("xvfb-run") != std::string::npos);
  QVERIFY(firstLine.find("command-line tool") != std::string::npos);
  QVERIFY2(run.out.find("PC song folder (1 songs)") != std::string::npos, run.out.c_str());
  QVERIFY2(run.out.find("Zumbla, card (0 songs)") != std::string::npos, run.out.c_str());
  // The simulated player ran in the settings folder and is gone, the setting
  // back as it was.
  QVERIFY(fs::exists(home.path() / "simulator" / "card.img"));
  QCOMPARE(profile.GetString("Link", "Simulator", "unset"), std::string());
  auto again = testing::Run({testing::BuiltProgram("kestro").string()}, noDisplay);
  QCOMPARE(again.status, 0);
  QVERIFY2(again.out.find("Zumbla not connected") != std::string::npos, again.out.c_str());
}

void Window::theLanguageMenuKeepsTheChoiceForTheNextStart() {
  Rig r;
  r.profile.WriteString("SETTINGS", "CURRLANGUAGE", "ITALIANO");
  // A window started now reads the language it shows.
  r.window.reset();
  FtdiLibrary none;
  r.window = std::make_unique<MainWindow>(*r.env, ProgramChannels(*r.env, none));
  r.window->Prepare();
  QMenu* languages = nullptr;
  for (QAction* top : r.window->menuBar()->actions()) {
    if (!top->menu()) continue;
    for (QAction* a : top->menu()->actions()) {
      if (a->menu() && a->text() == QString::fromLatin1(r.T("MSG_MENU_LANGUAGE"))) languages = a->menu();
    }
  }
  QVERIFY(languages);
  QList<QAction*> items = languages->actions();
  QCOMPARE(items.size(), 2);
  QVERIFY(items[0]->isChecked());  // Italiano
  QVERIFY(!items[1]->isChecked());

  // The language in use again: nothing written, nothing said.
  items[0]->trigger();
  QCOMPARE(r.profile.GetString("SETTINGS", "CURRLANGUAGE", ""), std::string("ITALIANO"));
  QVERIFY(!r.Showed(r.T("MSG_LANGUAGE_NEXT_START")));

  items[1]->trigger();
  QCOMPARE(r.profile.GetString("SETTINGS", "CURRLANGUAGE", ""), std::string("ENGLISH"));
  QVERIFY(r.Showed(r.T("MSG_LANGUAGE_NEXT_START")));
  QVERIFY(items[1]->isChecked());
}

void Window::aFirstStartLaysOutTheInstallFolderAndTakesFiles() {
  // A user who never ran Kestro (a package just installed): the window lays
  // out the install folder from the shipped data without asking, and fills
  // the PC song folder with the demo songs.
  testing::TempDir home;
  const std::map<std::string, std::string> noDisplay = {{"ZUMBLA_HOME", home.path().string()},
                                                        {"DISPLAY", ""},
                                                        {"WAYLAND_DISPLAY", ""},
                                                        {"QT_QPA_PLATFORM", ""},
                                                        {"LC_ALL", ""},
                                                        {"LC_MESSAGES", ""},
                                                        {"LANG", "en_US.UTF-8"}};
  auto run = testing::Run({testing::BuiltProgram("kestro").string()}, noDisplay);
  QVERIFY2(run.status == 0, (run.out + run.err).c_str());
  ProfileFile profile(home.path() / "Zumbla.INI");
  const fs::path install = home.path() / "Kestro";
  QCOMPARE(profile.GetString("PATH", "Installpath", "?"), install.string());
  QCOMPARE(profile.GetString("SETTINGS", "CURRLANGUAGE", "?"), std::string("ENGLISH"));
  for (const char* name : kLaidOutFiles) QVERIFY2(fs::is_regular_file(install / name), name);
  QVERIFY2(run.out.find("PC song folder (5 songs)") != std::string::npos, run.out.c_str());

  // Files named on the command line ("Open with") are songs to import; an
  // unknown option is still refused.
  std::string error;
  auto o = ParseProgramOptions({"--no-splash", "/music/a.kar", "b.mid"}, &error);
  QVERIFY(o.has_value());
  QVERIFY(!o->splash);
  QCOMPARE(o->files, (std::vector<std::string>{"/music/a.kar", "b.mid"}));
  QVERIFY(!ParseProgramOptions({"a.kar", "--bogus"}, &error).has_value());
  QVERIFY(error.find("--bogus") != std::string::npos);
}

QTEST_MAIN(Window)
#include "window_test.moc"
