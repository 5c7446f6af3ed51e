// Every dialog of the window on a real X server, in both languages: each is
// saved as a picture in screenshots/ of the build folder for a person to
// look at, and each text on it must fit its widget (nothing cut off).
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPrintDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "gui/commands.h"
#include "gui/file_info_dialog.h"
#include "gui/look.h"
#include "gui/main_window.h"
#include "gui/message_dialog.h"
#include "gui/options_dialog.h"
#include "gui/qt_ui.h"
#include "gui/search_dialog.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

using namespace kestro;
using namespace kestro::gui;
namespace fs = std::filesystem;

namespace {

Bytes Package(const std::string& title, const std::string& performer) {
  Bytes b(900, 0x33);
  std::fill(b.begin(), b.begin() + 512, 0);
  std::copy(title.begin(), title.end(), b.begin() + 122);
  std::copy(performer.begin(), performer.end(), b.begin() + 218);
  return b;
}

// Texts that do not fit their widget, by widget and text.
QStringList CutOff(QWidget* dialog) {
  QStringList out;
  for (QLabel* l : dialog->findChildren<QLabel*>()) {
    if (!l->isVisible() || l->wordWrap() || l->text().isEmpty() || !l->pixmap().isNull()) continue;
    QString shown = l->text();
    shown.remove(QRegularExpression(QStringLiteral("&(?!&)")));  // mnemonics are not drawn
    if (l->width() < l->fontMetrics().horizontalAdvance(shown) - 1) out << l->text();
  }
  // The message dialog draws its buttons 75 pixels wide by design; its texts
  // are short.
  if (qobject_cast<MessageDialog*>(dialog)) return out;
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
    if (!b->isVisible() || b->text().isEmpty()) continue;
    if (b->width() < b->minimumSizeHint().width() - 1) out << b->text();
  }
  return out;
}

}  // namespace

class DialogShots : public QObject {
  Q_OBJECT

 private slots:
  void eachDialogInBothLanguages();
};

void DialogShots::eachDialogInBothLanguages() {
  for (const char* language : {"ITALIANO", "ENGLISH"}) {
    testing::TempDir home;
    fs::path install = home.path() / "inst", songs = home.path() / "songs", card = home.path() / "card";
    testing::FillInstallDir(install);
    fs::create_directories(songs);
    fs::create_directories(card);
    QVERIFY(WriteBinaryFile(songs / "volare.MF4", Package("VOLARE", "DOMENICO MODUGNO")));
    QVERIFY(WriteBinaryFile(card / "MSETUP.DAT", Bytes{0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 3, 1, 4, 1, 6, 2}));
    ProfileFile profile(home.path() / "Zumbla.INI");
    profile.WriteString("PATH", "Installpath", install.string());
    profile.WriteString("PATH", "OLD_MF4", songs.string());
    profile.WriteString("PATH", "Flashdrive", card.string());
    profile.WriteString("SETTINGS", "CURRLANGUAGE", language);
    profile.WriteString("Link", "Simulator", (home.path() / "nobody.sock").string());
    QtUi ui;
    VirtualClock clock;
    Dictionary dict;
    dict.Load(install, profile, ui);
    ui.SetDictionary(&dict);
    Env env{ui, clock, profile, dict, install};
    FtdiLibrary none;
    auto window = std::make_unique<MainWindow>(env, ProgramChannels(env, none));
    window->Prepare();
    window->show();
    window->app().lib.flashDrive = card;
    window->app().cycle.currentMedium = window->app().cycle.lastReading = window->app().cycle.newReading = 0;
    window->app().cycle.SyncLibrary();
    window->RefreshListViews();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    const fs::path dir = testing::BuildDir() / "screenshots";
    fs::create_directories(dir);
    QStringList problems;
    auto reject = [](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); };
    struct Shot {
      QString name;
      std::function<void()> open;
      std::function<void(QWidget*)> close;
    };
    const std::vector<Shot> shots = {
        {QStringLiteral("search"), [&] { window->OnCommand(kSearchMenu); }, reject},
        {QStringLiteral("options"), [&] { window->OnCommand(kPlayerOptions); }, reject},
        {QStringLiteral("song-information"), [&] { window->ShowFileInfo(0); }, reject},
        {QStringLiteral("export"), [&] { window->OnCommand(kSaveListCsv); }, reject},
        {QStringLiteral("print"), [&] { window->OnCommand(kPrintMenu); }, reject},
        {QStringLiteral("player-information"), [&] { window->OnCommand(kPlayerInformation); },
         [](QWidget* d) { qobject_cast<MessageDialog*>(d)->Button(1)->click(); }},
    };
    for (const Shot& s : shots) {
      // The dialog runs its own loop inside open(): a timer in that loop
      // finds it, lets it settle, saves it and closes it.
      bool taken = false;
      QTimer watcher;
      watcher.setInterval(100);
      int settle = 0;
      QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* d = QApplication::activeModalWidget();
        if (!d || !d->isVisible() || ++settle < 4) return;
        watcher.stop();
        QString file = QString::fromStdString((dir / ("dialog-" + s.name.toStdString() + "-")).string()) +
                       QString::fromLatin1(language).toLower() + QStringLiteral(".png");
        taken = d->grab().save(file);
        for (const QString& t : CutOff(d)) problems << s.name + QStringLiteral(": ") + t;
        s.close(d);
      });
      watcher.start();
      s.open();
      watcher.stop();
      QVERIFY2(taken, qPrintable(s.name));
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    window.reset();
    fs::current_path(fs::temp_directory_path());
  }
}

QTEST_MAIN(DialogShots)
#include "dialog_shots_test.moc"
