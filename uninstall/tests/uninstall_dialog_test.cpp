// The dialog "UNINSTALL_DLG" under Qt's offscreen platform: its texts in
// both languages, Cancel that leaves everything as it was, OK that runs the
// removal under the busy cursor.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "uninstall/qt_message_ui.h"
#include "uninstall/tests/uninstall_fixture.h"
#include "uninstall/uninstall_dialog.h"

using namespace kestro;
using namespace kestro::uninstall;
using namespace kestro::uninstall::testfixture;

namespace {

QString Text(const Dictionary& dict, const char* key) { return FromSuiteText(dict.GetText(key)); }

QString IconFile() { return QString::fromStdString((testing::BuiltDataDir() / "art" / "MainIcon.svg").string()); }

// Presses a button once the dialog's own event loop runs.
void PressLater(QPushButton* button) {
  QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
}

}  // namespace

class UninstallDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void textsComeFromTheDictionaryInBothLanguages() {
    for (const char* language : {"ITALIANO", "ENGLISH"}) {
      UserHome h;
      h.settings.WriteString("SETTINGS", "CURRLANGUAGE", language);
      h.LoadDictionary();
      QVERIFY(h.dict.Language() == language);
      VirtualClock clock;
      UninstallDialog dialog(h.dict, clock, [] {}, IconFile());
      QCOMPARE(dialog.objectName(), QString("UNINSTALL_DLG"));
      QCOMPARE(dialog.text()->objectName(), QString("1001"));
      QCOMPARE(dialog.text()->text(), Text(h.dict, "IDC_ARE_YOU_SURE_TO_UNINSTALL"));
      QCOMPARE(dialog.okButton()->text(), Text(h.dict, "UNINSTALL_IDOK"));
      QCOMPARE(dialog.cancelButton()->text(), Text(h.dict, "UNINSTALL_IDCANCEL"));
      QCOMPARE(dialog.windowTitle(), Text(h.dict, "MSG_UNINSTALL_TITLE"));
      QVERIFY(!dialog.text()->text().contains("String Error"));
      QVERIFY(dialog.cancelButton()->isDefault());
      // For a look at it: KESTRO_SHOT_DIR=folder saves the dialog as drawn.
      if (qEnvironmentVariableIsSet("KESTRO_SHOT_DIR")) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::qWait(200);
        // Enter does not remove: the focus is on Cancel.
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.cancelButton()));
        dialog.grab().save(qEnvironmentVariable("KESTRO_SHOT_DIR") + "/uninstall-" + language + ".png");
      }
    }
  }

  void cancelDeletesNothingAndStartsNothing() {
    UserHome h;
    h.LoadDictionary();
    const auto before = Tree(h.home);
    Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
    int removals = 0;
    UninstallDialog dialog(h.dict, h.clock, [&] {
      ++removals;
      u.Removal();
    }, IconFile());
    PressLater(dialog.cancelButton());
    const int result = dialog.exec();
    u.AfterDialog(result);
    QCOMPARE(result, 0);
    QCOMPARE(removals, 0);
    QVERIFY(h.starter.started.empty());
    QVERIFY(h.ui.messages.empty());
    QVERIFY(Tree(h.home) == before);
  }

  void closingTheWindowIsCancel() {
    UserHome h(false);
    h.LoadDictionary();
    VirtualClock clock;
    int removals = 0;
    UninstallDialog dialog(h.dict, clock, [&] { ++removals; }, IconFile());
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), 0);
    QTimer::singleShot(0, &dialog, [&] { dialog.close(); });
    QCOMPARE(dialog.exec(), 0);
    QCOMPARE(removals, 0);
  }

  void okRunsTheRemovalUnderTheBusyCursor() {
    UserHome h(false);
    h.LoadDictionary();
    VirtualClock clock;
    int removals = 0;
    bool busy = false;
    UninstallDialog dialog(h.dict, clock, [&] {
      ++removals;
      busy = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    }, IconFile());
    PressLater(dialog.okButton());
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(removals, 1);
    QVERIFY(busy);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QCOMPARE(clock.SleptMs(), uint64_t{UninstallDialog::kAfterRemovalMs});
  }
};

QTEST_MAIN(UninstallDialogTest)
#include "uninstall_dialog_test.moc"
