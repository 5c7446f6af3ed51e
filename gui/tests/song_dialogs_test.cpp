// The window's dialogs over the song lists and the player: search, export,
// print, song information, the player's options, the help page and the
// firmware update as the window runs it.
// The window runs with its real user interface (message boxes answered by
// the test, modal dialogs driven through QApplication::activeModalWidget);
// the player is zumbla-sim over its socket where one is needed.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "gui/commands.h"
#include "gui/file_info_dialog.h"
#include "gui/list_printer.h"
#include "gui/look.h"
#include "gui/main_window.h"
#include "gui/options_dialog.h"
#include "gui/qt_ui.h"
#include "gui/search_dialog.h"
#include "gui/song_list_view.h"
#include "library/lists.h"
#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/latin1.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

using namespace kestro;
using namespace kestro::gui;
namespace fs = std::filesystem;

namespace {

library::SongRecord Song(const std::string& title, const std::string& author, const std::string& file) {
  library::SongRecord r;
  r.title = title;
  r.author = author;
  r.genre = "POP";
  r.fileName = file;
  return r;
}

Bytes Package(const std::string& title, const std::string& performer) {
  Bytes b(900, 0x33);
  std::fill(b.begin(), b.begin() + 512, 0);
  std::copy(title.begin(), title.end(), b.begin() + 122);
  std::copy(performer.begin(), performer.end(), b.begin() + 218);
  b[0] = '_';
  b[1] = 'M';
  b[2] = 'F';
  b[3] = '4';
  return b;
}

// Runs `fn` on the next modal dialog of type D once it shows. The watch
// ends with it, or when the returned pointer's timer is deleted.
template <typename D>
QPointer<QTimer> OnDialog(std::function<void(D*)> fn) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, fn] {
    if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget()); d && d->isVisible()) {
      timer->stop();
      timer->deleteLater();
      fn(d);
    }
  });
  timer->start();
  return timer;
}

int PdfPages(const fs::path& pdf) {
  auto info = testing::Run({"/usr/bin/pdfinfo", pdf.string()});
  size_t at = info.out.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + 6);
}

struct Rig {
  explicit Rig(const char* language = "ITALIANO") {
    testing::FillInstallDir(install);
    fs::create_directories(songs);
    profile.WriteString("PATH", "Installpath", install.string());
    profile.WriteString("PATH", "OLD_MF4", songs.string());
    profile.WriteString("SETTINGS", "CURRLANGUAGE", language);
    profile.WriteString("Link", "Simulator", sock);
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
    env = std::make_unique<Env>(Env{ui, clock, profile, dict, install});
  }
  ~Rig() {
    window.reset();
    fs::current_path(fs::temp_directory_path());
  }
  void Open() {
    FtdiLibrary none;
    window = std::make_unique<MainWindow>(*env, ProgramChannels(*env, none));
    window->Prepare();
    window->show();
  }
  App& app() { return window->app(); }
  std::string T(const char* key) const { return dict.GetText(key); }
  bool Showed(const std::string& text) const {
    for (const auto& m : shown) {
      if (m.text == text) return true;
    }
    return false;
  }
  void Fill(library::SongList pc, library::SongList player) {
    app().lib.pc = std::move(pc);
    app().lib.player = std::move(player);
    window->RefreshListViews();
  }
  void Medium(int medium) {
    app().cycle.currentMedium = medium;
    app().cycle.lastReading = medium;
    app().cycle.newReading = medium;
    app().cycle.SyncLibrary();
  }
  std::vector<std::string> Selected(SongListView* view, SongListModel* model) {
    std::vector<std::string> out;
    for (int rec : view->SelectedRecords()) {
      (void)model;
      const auto& list = view == window->PcView() ? app().lib.pc : app().lib.player;
      out.push_back(list[static_cast<size_t>(rec)].title);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  testing::TempDir home;
  fs::path install = home.path() / "inst";
  fs::path songs = home.path() / "songs";
  std::string sock = (home.path() / "zumbla.sock").string();
  QtUi ui;
  VirtualClock clock;
  ProfileFile profile{home.path() / "Zumbla.INI"};
  Dictionary dict;
  std::unique_ptr<Env> env;
  std::unique_ptr<MainWindow> window;
  std::vector<MessageRequest> shown;
  std::deque<int> answers;
};

}  // namespace

class SongDialogs : public QObject {
  Q_OBJECT

 private slots:
  void searchFindsNextAcrossTheListsAndSelectsAll();
  void exportWritesTheListTheRadioButtonChose();
  void printPagesFollowTheRowsAndTheSelection();
  void songInformationWritesMf4AndMp3Texts();
  void songInformationOnAReadOnlyOrVanishedFile();
  void optionsRoundTripOnTheSimulatedPlayer();
  void optionsCloseAtOnceWithoutARecord();
  void helpPageOpensInTheDesktopsBrowser();
  void firmwareUpdateWithTheLinkCut();
};

void SongDialogs::searchFindsNextAcrossTheListsAndSelectsAll() {
  Rig r;
  r.Open();
  r.Medium(2);
  r.Fill({Song("VOLARE", "MODUGNO", "/x/a.MF4"), Song("AZZURRO", "CELENTANO", "/x/b.MF4"),
          Song("VOLARE NEL BLU", "X", "/x/c.MF4"), Song("volare", "lower", "/x/d.MF4")},
         {Song("ANCORA VOLARE", "Y", "00001.MF4"), Song("MARE", "MODUGNO", "00002.MF4")});
  MainWindow* w = r.window.get();
  // Sorted by title: the search follows the rows as shown.
  QCOMPARE(w->PcModel()->RecordOfRow(0)->title, std::string("AZZURRO"));

  std::vector<std::string> found;
  auto hit = [&] {
    auto pc = r.Selected(w->PcView(), w->PcModel());
    auto pl = r.Selected(w->PlayerView(), w->PlayerModel());
    return (pc.empty() ? std::string() : "pc:" + pc[0]) + (pl.empty() ? std::string() : "player:" + pl[0]);
  };
  OnDialog<SearchDialog>([&](SearchDialog* d) {
    // Lower-case text is searched upper-cased: "volare" in lower case is never found.
    d->TextField()->setText(QStringLiteral("volare"));
    QVERIFY(d->Titles()->isChecked());
    for (int i = 0; i < 4; ++i) {
      d->NextButton()->click();
      found.push_back(hit());
    }
    // Nothing checked: the warning, and the dialog stays.
    d->PcList()->setChecked(false);
    d->PlayerList()->setChecked(false);
    d->NextButton()->click();
    d->SelectAllButton()->click();
    QVERIFY(d->isVisible());
    d->PcList()->setChecked(true);
    d->PlayerList()->setChecked(true);
    d->Performers()->setChecked(true);
    d->Titles()->setChecked(false);
    d->TextField()->setText(QStringLiteral("modugno"));
    d->SelectAllButton()->click();
  });
  QVERIFY(w->OnCommand(kSearchMenu));
  QCOMPARE(found, (std::vector<std::string>{"pc:VOLARE", "pc:VOLARE NEL BLU", "player:ANCORA VOLARE", "pc:VOLARE"}));
  QCOMPARE(std::count_if(r.shown.begin(), r.shown.end(),
                         [&](const MessageRequest& m) { return m.text == r.T("MSG_SEARCH_SPECIFY_AT_LEAST_A_LIST"); }),
           2);
  // Select all: the matches of both lists stay selected.
  QCOMPARE(r.Selected(w->PcView(), w->PcModel()), (std::vector<std::string>{"VOLARE"}));
  QCOMPARE(r.Selected(w->PlayerView(), w->PlayerModel()), (std::vector<std::string>{"MARE"}));
  // The check boxes are as they were left at the next opening.
  OnDialog<SearchDialog>([&](SearchDialog* d) {
    QVERIFY(!d->Titles()->isChecked());
    QVERIFY(d->Performers()->isChecked());
    QCOMPARE(d->TextField()->text(), QStringLiteral("modugno"));
    d->TextField()->setText(QStringLiteral("NOTHING LIKE THIS"));
    d->NextButton()->click();
    d->CancelButton()->click();
  });
  QVERIFY(w->OnCommand(kSearchBarPicture));
  QVERIFY(r.Showed(r.T("MSG_SEARCH_TEXT_NOT_FOUND")));
}

void SongDialogs::exportWritesTheListTheRadioButtonChose() {
  Rig r;
  r.Open();
  r.Medium(1);
  r.Fill({Song("AZZURRO", "CELENTANO", "/x/b.MF4")}, {Song("MARE", "MODUGNO", "00002.MF4")});
  std::vector<SaveFileRequest> asked;
  int radio = 0;
  r.ui.answerSaveFile = [&](const SaveFileRequest& req) -> std::optional<SaveFileResult> {
    asked.push_back(req);
    if (radio < 0) return std::nullopt;
    return SaveFileResult{(r.home.path() / ("list" + std::to_string(radio) + ".csv")).string(), radio};
  };
  QVERIFY(r.window->OnCommand(kSaveListCsv));
  radio = 1;
  QVERIFY(r.window->OnCommand(kSaveListCsv));
  QCOMPARE(asked.size(), 2u);
  QCOMPARE(asked[0].radioLabels, (std::vector<std::string>{"Kestro", "Compact Flash"}));
  QCOMPARE(asked[0].radioChecked, 1);
  QCOMPARE(asked[0].initialName, std::string("DATABASE.CSV"));
  std::string pc = testing::ReadFileOrEmpty(r.home.path() / "list0.csv");
  std::string player = testing::ReadFileOrEmpty(r.home.path() / "list1.csv");
  QVERIFY2(pc.find(";AZZURRO;CELENTANO\n") != std::string::npos, pc.c_str());
  QVERIFY(pc.find("MARE") == std::string::npos);
  QVERIFY2(player.find("0;MARE;MODUGNO\n") != std::string::npos, player.c_str());
  QVERIFY(r.Showed(r.T("MSG_FILESAVED_CSV")));
  QVERIFY(!r.app().cycle.busy);
  // Cancelled: nothing written, nothing said.
  r.shown.clear();
  radio = -1;
  QVERIFY(r.window->OnCommand(kSaveListCsv));
  QVERIFY(r.shown.empty());
}

void SongDialogs::printPagesFollowTheRowsAndTheSelection() {
  for (const char* language : {"ITALIANO", "ENGLISH"}) {
    Rig r(language);
    r.Open();
    r.Medium(2);
    library::SongList pc;
    for (int i = 0; i < 200; ++i) pc.push_back(Song(Fmt("SONG %03d", i), "SINGER", Fmt("/x/%03d.MF4", i)));
    r.Fill(pc, {Song("MARE", "MODUGNO", "00002.MF4")});
    // The songs a full page holds, as the printer measures them.
    int perPage = 0;
    {
      QPrinter probe(QPrinter::HighResolution);
      probe.setResolution(300);
      probe.setPageSize(QPageSize(QPageSize::A4));
      probe.setOutputFormat(QPrinter::PdfFormat);
      probe.setOutputFileName(QString::fromStdString((r.home.path() / "probe.pdf").string()));
      QPainter painter(&probe);
      QtPagePainter adapter(probe, painter);
      library::PageGeometry f = library::FontFor(adapter.Width(), adapter.Height());
      adapter.SetFont(f.fontHeight, f.fontWidth);
      perPage = library::PageGeometryFor(adapter.Width(), adapter.Height(), adapter.TextHeight()).linesPerPage - 1;
    }
    QVERIFY2(perPage > 30 && perPage < 100, qPrintable(QString::number(perPage)));
    MainWindow::PrintChoice choice{true, false};
    fs::path out;
    r.window->answerPrint = [&](QPrinter& printer) -> std::optional<MainWindow::PrintChoice> {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(out.string()));
      if (out.empty()) return std::nullopt;
      return choice;
    };
    // Cancelled: nothing written.
    QVERIFY(r.window->OnCommand(kPrintMenu));
    // The selection chosen with nothing selected: the warning, no file.
    out = r.home.path() / "none.pdf";
    choice = {true, true};
    r.window->PcView()->clearSelection();
    QVERIFY(r.window->OnCommand(kPrintBarPicture));
    QVERIFY(r.Showed(r.T("MSG_NO_SONG_SELECTED")));
    QVERIFY(!fs::exists(out));
    // The player's list of the internal memory: its own title.
    out = r.home.path() / "player.pdf";
    choice = {false, false};
    QVERIFY(r.window->OnCommand(kPrintAlias));
    QCOMPARE(PdfPages(out), 1);
    auto text = testing::Run({"/usr/bin/pdftotext", "-layout", out.string(), "-"}).out;
    QVERIFY2(text.find(Latin1ToUtf8(r.T("MSG_PRINT_PAGETITLE_ZUM"))) != std::string::npos, text.c_str());
    QVERIFY(text.find("MODUGNO") != std::string::npos);
    QVERIFY(text.find(Latin1ToUtf8(Fmt(r.T("MSG_PAGE_X_OF_Y"), 1, 1))) != std::string::npos);
    // All 200 PC songs: page count from the rows a page holds.
    out = r.home.path() / "all.pdf";
    choice = {true, false};
    QVERIFY(r.window->OnCommand(kPrintMenu));
    const int pages = PdfPages(out);
    // Kept beside the dialogs' pictures, for a person to look at.
    fs::create_directories(testing::BuildDir() / "screenshots");
    fs::copy_file(out, testing::BuildDir() / "screenshots" / ("printout-" + std::string(language) + ".pdf"),
                  fs::copy_options::overwrite_existing);
    QVERIFY(pages >= 3);
    text = testing::Run({"/usr/bin/pdftotext", out.string(), "-"}).out;
    QVERIFY(text.find("SONG 199") != std::string::npos);
    QVERIFY(text.find(Latin1ToUtf8(Fmt(r.T("MSG_PAGE_X_OF_Y"), pages, pages))) != std::string::npos);
    QCOMPARE(pages, (200 + perPage - 1) / perPage);
    // A page's worth of selected songs is one page; one song more, two.
    for (int n : {perPage, perPage + 1}) {
      r.window->PcView()->clearSelection();
      QItemSelection sel(r.window->PcModel()->index(0, 0), r.window->PcModel()->index(n - 1, 3));
      r.window->PcView()->selectionModel()->select(sel, QItemSelectionModel::Select);
      out = r.home.path() / Fmt("sel%d.pdf", n);
      choice = {true, true};
      QVERIFY(r.window->OnCommand(kPrintMenu));
      QCOMPARE(PdfPages(out), n == perPage ? 1 : 2);
      text = testing::Run({"/usr/bin/pdftotext", out.string(), "-"}).out;
      QVERIFY(text.find(Fmt("SONG %03d", n - 1)) != std::string::npos);
      QVERIFY(text.find(Fmt("SONG %03d", n)) == std::string::npos);
    }
    QVERIFY(!r.app().cycle.busy);
  }
}

void SongDialogs::songInformationWritesMf4AndMp3Texts() {
  Rig r;
  QVERIFY(WriteBinaryFile(r.songs / "volare.MF4", Package("VOLARE", "MODUGNO")));
  Bytes audio(3000, 0xAB);
  QVERIFY(WriteBinaryFile(r.songs / "mare.mp3", audio));
  r.Open();
  QCOMPARE(r.window->PcModel()->rowCount(), 2);
  std::vector<QString> titlesShown;
  int suggestions = 0;
  for (int row = 0; row < 2; ++row) {
    OnDialog<FileInfoDialog>([&](FileInfoDialog* d) {
      // The texts stored in the file (an MP3 without a tag has none), and
      // the suggestion lists of the install folder.
      titlesShown.push_back(d->Title()->text());
      suggestions += d->Performer()->count() > 0 && d->Genre()->count() > 0;
      d->Title()->setText(QStringLiteral("Nel blu dipinto di blu"));
      d->Performer()->setEditText(QStringLiteral("Domenico Modugno"));
      d->Genre()->setEditText(QString::fromUtf8("Canzone d'autore é"));
      d->Editor()->setText(QStringLiteral("Edizioni Curci"));
      d->Author()->setText(QStringLiteral("Migliacci"));
      suggestions += d->Title()->maxLength() == 31;
      d->findChildren<QPushButton*>().first()->click();
    });
    r.window->ShowFileInfo(row);
  }
  std::sort(titlesShown.begin(), titlesShown.end());
  QCOMPARE(titlesShown, (std::vector<QString>{QString(), QStringLiteral("VOLARE")}));
  QCOMPARE(suggestions, 4);
  // The MF4 header holds the texts at their offsets.
  auto mf4 = ReadBinaryFile(r.songs / "volare.MF4");
  QVERIFY(mf4 && mf4->size() == 900);
  QCOMPARE(std::string(reinterpret_cast<const char*>(mf4->data() + 122)), std::string("Nel blu dipinto di blu"));
  QCOMPARE(std::string(reinterpret_cast<const char*>(mf4->data() + 218)), std::string("Domenico Modugno"));
  QCOMPARE(std::string(reinterpret_cast<const char*>(mf4->data() + 154)), std::string("Edizioni Curci"));
  QCOMPARE(std::string(reinterpret_cast<const char*>(mf4->data() + 186)), std::string("Migliacci"));
  QCOMPARE(std::string(reinterpret_cast<const char*>(mf4->data() + 250)), std::string("Canzone d'autore \xE9"));
  QVERIFY(std::equal(mf4->begin() + 512, mf4->end(), Package("", "").begin() + 512));
  // The MP3 got a tag in front of its audio, which mutagen reads.
  auto mp3 = ReadBinaryFile(r.songs / "mare.mp3");
  QVERIFY(mp3 && mp3->size() == audio.size() + 1024);
  QVERIFY(std::equal(audio.begin(), audio.end(), mp3->begin() + 1024));
  auto tags = testing::Run({"/usr/bin/python3", "-c",
                            "import sys\nfrom mutagen.id3 import ID3\nt = ID3(sys.argv[1])\n"
                            "print('|'.join(str(t[k]) for k in ('TIT2','TPE1','TCON','TPUB','TCOM')))",
                            (r.songs / "mare.mp3").string()});
  QCOMPARE(QString::fromStdString(tags.out).trimmed(),
           QString::fromUtf8("Nel blu dipinto di blu|Domenico Modugno|Canzone d'autore é|Edizioni Curci|Migliacci"));
  // The rows show the new texts, marked as edited.
  bool edited = true;
  for (const auto& rec : r.app().lib.pc) edited = edited && rec.infoEdited;
  QVERIFY(edited);
  QVERIFY(r.window->PcModel()->RecordOfRow(0)->title.rfind("NEL BLU", 0) == 0);
  QVERIFY(!r.app().cycle.busy);
}

void SongDialogs::songInformationOnAReadOnlyOrVanishedFile() {
  Rig r;
  const Bytes original = Package("VOLARE", "MODUGNO");
  QVERIFY(WriteBinaryFile(r.songs / "volare.MF4", original));
  QVERIFY(WriteBinaryFile(r.songs / "zz.MF4", Package("ZZ", "Z")));
  r.Open();
  fs::permissions(r.songs / "volare.MF4", fs::perms::owner_read | fs::perms::group_read);
  bool stayedOpen = false;
  OnDialog<FileInfoDialog>([&](FileInfoDialog* d) {
    d->Title()->setText(QStringLiteral("CHANGED"));
    d->findChildren<QPushButton*>().first()->click();
    stayedOpen = d->isVisible();
    d->reject();
  });
  r.window->ShowFileInfo(0);
  QVERIFY(stayedOpen);
  QVERIFY(r.Showed(Fmt(r.T("MSG_CANTCREATE"), (r.songs / "volare.MF4").string())));
  QCOMPARE(ReadBinaryFile(r.songs / "volare.MF4"), std::optional<Bytes>(original));
  QVERIFY(!r.app().lib.pc[0].infoEdited);
  // A file gone since the list was read: the read error, no dialog.
  fs::remove(r.songs / "zz.MF4");
  r.shown.clear();
  r.window->ShowFileInfo(1);
  QVERIFY(r.Showed(Fmt(r.T("MSG_CANTOPEN"), (r.songs / "zz.MF4").string())));
  QVERIFY(!QApplication::activeModalWidget());
  QVERIFY(!fs::exists(r.songs / "zz.MF4"));
}

void SongDialogs::optionsRoundTripOnTheSimulatedPlayer() {
  Rig r;
  fs::path simDir = r.home.path() / "sim";
  fs::create_directories(simDir);
  Bytes setup(30);
  for (size_t i = 0; i < setup.size(); ++i) setup[i] = static_cast<uint8_t>(0x40 + i);
  setup[3] = 1;
  setup[4] = 2;
  setup[5] = 0;
  setup[10] = 3;
  setup[11] = 1;
  setup[12] = 4;  // the fifth language
  setup[13] = 0;
  setup[14] = 6;
  setup[15] = 2;
  QVERIFY(WriteBinaryFile(simDir / "setup.dat", setup));
  sim::SimProcess sim(testing::BuiltProgram("zumbla-sim"), simDir, r.sock, {"--mode", "ram", "--as", "bulk"});
  QVERIFY(sim.Running());
  r.Open();
  QCOMPARE(r.app().SettleMedium(8, 0), 2);
  QVERIFY(r.window->ActionFor(kPlayerOptions));
  r.window->UpdateMenuStates();
  QVERIFY(r.window->ActionFor(kPlayerOptions)->isEnabled());

  OnDialog<OptionsDialog>([&](OptionsDialog* d) {
    QCOMPARE(d->ListFor(12)->currentIndex(), 4);
    QCOMPARE(d->ListFor(12)->currentText(), FromLatin1(r.T("MSG_ZUMBLALANGUAGE_4")));
    QCOMPARE(d->ListFor(4)->currentIndex(), 2);
    QCOMPARE(d->ListFor(15)->count(), 3);
    QCOMPARE(d->Slider()->value(), 6);
    QCOMPARE(d->Slider()->maximum(), 9);
    d->ListFor(10)->setCurrentIndex(1);
    d->Slider()->setValue(9);
    d->accept();
  });
  QVERIFY(r.window->OnCommand(kPlayerOptions));
  Bytes want = setup;
  want[10] = 1;
  want[14] = 9;
  std::fill(want.begin() + 16, want.end(), 0);
  // The player keeps what it received once it has taken it in.
  QTRY_COMPARE_WITH_TIMEOUT(ReadBinaryFile(simDir / "setup.dat").value_or(Bytes{}), want, 5000);
  // Cancel sends nothing; OK without changes sends the record again, with
  // its last bytes still 0.
  fs::remove(simDir / "setup.dat");
  OnDialog<OptionsDialog>([](OptionsDialog* d) { d->reject(); });
  QVERIFY(r.window->OnCommand(kPlayerOptions));
  QTest::qWait(50);
  QVERIFY(!r.app().cycle.busy);
}

void SongDialogs::optionsCloseAtOnceWithoutARecord() {
  // A card in a card reader whose setup record is short or missing.
  Rig r;
  fs::path card = r.home.path() / "card";
  fs::create_directories(card);
  r.profile.WriteString("PATH", "Flashdrive", card.string());
  r.Open();
  r.app().lib.flashDrive = card;
  r.Medium(0);
  for (const Bytes& content : {Bytes{}, Bytes(15, 7)}) {
    fs::remove(card / "MSETUP.DAT");
    if (!content.empty()) QVERIFY(WriteBinaryFile(card / "MSETUP.DAT", content));
    bool shown = false;
    QPointer<QTimer> watch = OnDialog<OptionsDialog>([&](OptionsDialog* d) {
      shown = true;
      d->accept();
    });
    QVERIFY(r.window->OnCommand(kPlayerOptions));
    QTest::qWait(60);
    delete watch.data();
    QVERIFY(!shown);
    QCOMPARE(ReadBinaryFile(card / "MSETUP.DAT"), content.empty() ? std::nullopt : std::optional<Bytes>(content));
  }
  // A whole record in the card's folder: shown, and written back there.
  Bytes whole(16, 1);
  whole[12] = 2;
  QVERIFY(WriteBinaryFile(card / "MSETUP.DAT", whole));
  OnDialog<OptionsDialog>([&](OptionsDialog* d) {
    QCOMPARE(d->ListFor(12)->currentIndex(), 2);
    d->ListFor(12)->setCurrentIndex(0);
    d->accept();
  });
  QVERIFY(r.window->OnCommand(kPlayerOptions));
  whole[12] = 0;
  QCOMPARE(ReadBinaryFile(card / "MSETUP.DAT"), std::optional<Bytes>(whole));
}

void SongDialogs::helpPageOpensInTheDesktopsBrowser() {
  for (const char* language : {"ITALIANO", "ENGLISH"}) {
    Rig r(language);
    r.Open();
    std::vector<QUrl> opened;
    r.window->openUrl = [&](const QUrl& u) {
      opened.push_back(u);
      return true;
    };
    QVERIFY(r.window->OnCommand(kHelpPage));
    QCOMPARE(opened.size(), 1u);
    QString page = opened[0].toLocalFile();
    QCOMPARE(QFileInfo(page).fileName(),
             std::string(language) == "ENGLISH" ? QStringLiteral("Kestro_en.html") : QStringLiteral("Kestro.html"));
    std::string html = testing::ReadFileOrEmpty(ToPath(page));
    QVERIFY(html.find(std::string(language) == "ENGLISH" ? "Find a song" : "Cerca una canzone") != std::string::npos);
    // No page: the read error.
    fs::remove(r.install / "Kestro.html");
    fs::remove(r.install / "Kestro_en.html");
    QVERIFY(r.window->OnCommand(kHelpPage));
    QCOMPARE(opened.size(), 1u);
    QVERIFY(r.Showed(Fmt(r.T("MSG_CANTOPEN"), (r.install / "Kestro.html").string())));
  }
}

void SongDialogs::firmwareUpdateWithTheLinkCut() {
  // A valid firmware file of the FTDI player: version, count and sum, S-records.
  std::string records;
  for (int i = 0; i < 120; ++i) records += Fmt("S1130%03X0000000000000000000000000000000000EC\r\n", i);
  uint64_t sum = 0;
  for (unsigned char c : records) sum += c;
  const std::string firmware = "Zumbla 2.0\r\n" + Fmt("%d %d", static_cast<int>(records.size()), static_cast<int>(sum)) +
                               "\r\n" + records;
  for (int cutAfter : {3, 400, 2500}) {
    Rig r;
    fs::path simDir = r.home.path() / "sim";
    fs::create_directories(simDir);
    sim::SimProcess sim(testing::BuiltProgram("zumbla-sim"), simDir, r.sock, {"--mode", "ram"});
    QVERIFY(sim.Running());
    const std::string previous = "Zumbla 1.0\r\n0 0\r\n";
    QVERIFY(WriteTextFile(r.install / "ZUMBLA2.MHX", previous));
    fs::path chosen = r.home.path() / "ZUMBLA2.MHX";
    QVERIFY(WriteTextFile(chosen, firmware));
    r.Open();
    QCOMPARE(r.app().SettleMedium(8, 0), 2);
    // The maker's server cannot be reached (no downloader here): the
    // previous file is back; the user chooses the new one and agrees.
    std::string installedWhenAsked;
    r.ui.answerOpenFiles = [&](const OpenFileRequest&) -> std::optional<OpenFileResult> {
      installedWhenAsked = testing::ReadFileOrEmpty(r.install / "ZUMBLA2.MHX");
      return OpenFileResult{r.home.path().string(), {chosen.string()}};
    };
    r.answers = {kIdYes, kIdYes};
    QVERIFY(WriteTextFile(simDir / "faults", Fmt("drop-after %d\n", cutAfter)));
    QVERIFY(r.window->OnCommand(kUpdateFirmware));
    QCOMPARE(installedWhenAsked, previous);
    QVERIFY(r.Showed(Fmt(r.T("MSG_ZUMNET_MHX_USE_THIS_VERSION"), "Zumbla 2.0")));
    QVERIFY(r.Showed(r.T("MSG_ZUMBLA_DISCONN_RECONN")));
    // The connection starts again from nothing; the window takes commands.
    QCOMPARE(r.app().cycle.currentMedium, -1);
    QVERIFY(!r.app().cycle.busy);
    QVERIFY(!r.ui.Progress().open);
    r.window->MainTick();
    r.shown.clear();
    QVERIFY(r.window->OnCommand(kVersionText));
    QCOMPARE(r.shown.size(), 1u);
  }
}

QTEST_MAIN(SongDialogs)
#include "song_dialogs_test.moc"
