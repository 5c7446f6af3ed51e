// The program's own dialogs: the message dialog's lines, sizes, buttons and
// results for each style, the self-closing notice, and the progress window
// whose close box asks the operation to stop.
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "gui/general_message.h"
#include "gui/icons.h"
#include "gui/look.h"
#include "gui/message_dialog.h"
#include "gui/progress_dialog.h"
#include "gui/qt_ui.h"
#include "platform/testing/testsupport.h"

using namespace kestro;
using namespace kestro::gui;

namespace {

// Button labels as the Italian dictionary has them.
std::string Italian(std::string_view key) {
  if (key == "MSG_OK") return "OK";
  if (key == "MSG_CANCEL") return "Annulla";
  if (key == "MSG_YES") return "S\xEC";  // Latin-1
  if (key == "MSG_NO") return "No";
  if (key == "MSG_ABORT") return "Operazione interrotta";
  return std::string(key) + ": String Error";
}

MessageRequest Request(const std::string& text, uint32_t style) {
  MessageRequest r;
  r.text = text;
  r.caption = "Caption";
  r.style = style;
  return r;
}

int TextWidth(const MessageDialog& d, const std::string& line) {
  return QFontMetrics(d.font()).size(Qt::TextSingleLine | Qt::TextExpandTabs, FromLatin1(line)).width();
}

}  // namespace

class Dialogs : public QObject {
  Q_OBJECT

 private slots:
  void messageDialogLaysOutEachStyle_data();
  void messageDialogLaysOutEachStyle();
  void messageDialogKeepsElevenLinesOf99Characters();
  void messageDialogCheckBoxStateComesBack();
  void qtUiShowsTheDialogAndReturnsItsResult();
  void generalMessageAnimatesAndClosesItself();
  void progressCloseBoxRequestsAbort();
  void everyPictureLoadsByItsName();
};

void Dialogs::messageDialogLaysOutEachStyle_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<uint>("style");
  QTest::addColumn<int>("lines");
  QTest::addColumn<int>("height");
  QTest::addColumn<int>("minWidth");
  QTest::addColumn<QString>("buttons");   // the visible buttons, "1", "13", "12", "123"
  QTest::addColumn<QString>("picture");
  QTest::addColumn<QList<int>>("results");  // of buttons 1, 2, 3 (0: not shown)
  QTest::addColumn<int>("escapeResult");
  QTest::addColumn<int>("defaultButton");

  QTest::newRow("one line, stop, OK") << "Cannot open the file" << 0x10u << 1 << 135 << 180 << "1" << "264"
                                      << QList<int>{1, 0, 0} << 1 << 1;
  QTest::newRow("question Yes No, second default")
      << "Format the card?\nEverything on it is lost." << 0x124u << 2 << 136 << 230 << "12" << "263"
      << QList<int>{6, 7, 0} << 7 << 2;
  QTest::newRow("OK Cancel, stop") << "Zumbla waits for new firmware.\nUpdate it now?" << 17u << 2 << 136 << 230
                                   << "13" << "264" << QList<int>{1, 0, 2} << 2 << 1;
  QTest::newRow("Yes No Cancel, exclamation") << "a\nb\nc" << 0x33u << 3 << 149 << 325 << "123" << "262"
                                              << QList<int>{6, 7, 2} << 2 << 1;
  QTest::newRow("information, other bits ignored") << "Done." << 0x1040u << 1 << 135 << 180 << "1" << "261"
                                                   << QList<int>{1, 0, 0} << 1 << 1;
}

void Dialogs::messageDialogLaysOutEachStyle() {
  QFETCH(QString, text);
  QFETCH(uint, style);
  QFETCH(int, lines);
  QFETCH(int, height);
  QFETCH(int, minWidth);
  QFETCH(QString, buttons);
  QFETCH(QString, picture);
  QFETCH(QList<int>, results);
  QFETCH(int, escapeResult);
  QFETCH(int, defaultButton);

  const std::string plain = text.toStdString();
  MessageDialog d(Request(plain, style), Italian);
  QCOMPARE(static_cast<int>(d.Geometry().lines.size()), lines);
  QCOMPARE(d.height(), height);
  int widest = 0;
  for (const auto& l : d.Geometry().lines) widest = std::max(widest, TextWidth(d, l));
  QCOMPARE(d.width(), std::max(widest + 117, minWidth));
  QCOMPARE(d.PictureName(), picture);
  QCOMPARE(d.windowTitle(), QStringLiteral("Caption"));

  const int w = d.width();
  const int count = static_cast<int>(buttons.size());
  for (int n = 1; n <= 3; ++n) {
    bool shown = buttons.contains(QString::number(n));
    QCOMPARE(d.Button(n) != nullptr, shown);
    if (!shown) continue;
    QRect g = d.Button(n)->geometry();
    QCOMPARE(g.width(), 75);
    QCOMPARE(g.top(), height - 60);
    QCOMPARE(g.height(), 20);
    int slot = buttons.indexOf(QString::number(n));
    int expectedLeft = count == 1 ? w / 2 - 42
                       : count == 2 ? (slot == 0 ? w / 2 - 85 : w / 2 + 10)
                                    : (slot == 0 ? w / 2 - 132 : slot == 1 ? w / 2 - 37 : w / 2 + 58);
    QCOMPARE(g.left(), expectedLeft);
    QCOMPARE(d.Button(n)->isDefault(), n == defaultButton);
  }
  QCOMPARE(d.Button(1)->text(), FromLatin1(Italian(style % 16 >= 3 ? "MSG_YES" : "MSG_OK")));

  // Each button gives its result and ends the dialog.
  for (int n = 1; n <= 3; ++n) {
    if (results[n - 1] == 0) continue;
    MessageDialog one(Request(plain, style), Italian);
    one.show();
    QTest::mouseClick(one.Button(n), Qt::LeftButton);
    QCOMPARE(one.Result(), results[n - 1]);
    QVERIFY(!one.isVisible());
  }
  // Escape declines.
  MessageDialog esc(Request(plain, style), Italian);
  esc.show();
  QTest::keyClick(&esc, Qt::Key_Escape);
  QCOMPARE(esc.Result(), escapeResult);
  QVERIFY(!esc.isVisible());
}

void Dialogs::messageDialogKeepsElevenLinesOf99Characters() {
  std::string text;
  for (int i = 0; i < 13; ++i) text += (i ? "\n" : "") + std::string("line ") + std::to_string(i);
  MessageDialog d(Request(text, 0), Italian);
  const auto& lines = d.Geometry().lines;
  QCOMPARE(static_cast<int>(lines.size()), 11);
  QCOMPARE(QString::fromStdString(lines[9]), QStringLiteral("line 9"));
  QCOMPARE(QString::fromStdString(lines[10]), QStringLiteral("line 10\nline 11\nline 12"));
  QCOMPARE(d.height(), 13 * 11 + 110);

  MessageDialog longLine(Request(std::string(150, 'x'), 0), Italian);
  QCOMPARE(longLine.Geometry().lines.at(0), std::string(99, 'x'));
}

void Dialogs::messageDialogCheckBoxStateComesBack() {
  MessageRequest r = Request("No lyrics in this song.", 0x34);
  r.checkText = "Visualizza ancora questo messaggio";
  r.checkState = true;
  MessageDialog d(r, Italian);
  d.show();
  QVERIFY(d.CheckBox());
  QCOMPARE(d.CheckBox()->pos(), QPoint(30, d.height() - 85));
  QVERIFY(d.CheckBox()->isChecked());
  QTest::mouseClick(d.CheckBox(), Qt::LeftButton, {}, QPoint(6, d.CheckBox()->height() / 2));
  QVERIFY(!d.CheckBox()->isChecked());
  QTest::mouseClick(d.Button(2), Qt::LeftButton);
  QCOMPARE(d.Result(), kIdNo);
  QCOMPARE(d.CheckState(), false);

  MessageDialog without(Request("Plain.", 0), Italian);
  QVERIFY(!without.CheckBox());
}

void Dialogs::qtUiShowsTheDialogAndReturnsItsResult() {
  QtUi ui;
  ui.SetMessageCheckText("Show again");
  ui.SetMessageCheckState(true);
  QString seen;
  QTimer::singleShot(50, [&] {
    auto* d = qobject_cast<MessageDialog*>(QApplication::activeModalWidget());
    QVERIFY(d);
    seen = d->windowTitle();
    d->CheckBox()->setChecked(false);
    QTest::mouseClick(d->Button(3), Qt::LeftButton);
  });
  QCOMPARE(ui.ShowMessage("Go on?", "Question", 0x21), kIdCancel);
  QCOMPARE(seen, QStringLiteral("Question"));
  QCOMPARE(ui.MessageCheckState(), false);
}

void Dialogs::generalMessageAnimatesAndClosesItself() {
  GeneralMessage g("Connecting to Zumbla.\nPlease wait a few seconds...", "Connection");
  QCOMPARE(static_cast<int>(g.Lines().size()), 2);
  QElapsedTimer t;
  t.start();
  g.show();
  QTRY_VERIFY_WITH_TIMEOUT(g.Frame() != 0, 1000);
  QVERIFY(g.isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(!g.isVisible(), GeneralMessage::kLifetimeMs + 2000);
  QVERIFY(t.elapsed() >= GeneralMessage::kLifetimeMs - 50);
  QCOMPARE(g.Frame(), 0);

  // The notice the core asks for waits until someone closes it.
  QtUi ui;
  QTimer::singleShot(300, [&] {
    QVERIFY(ui.GeneralMessageOpen());
    ui.CloseGeneralMessage();
  });
  t.restart();
  ui.ShowGeneralMessage("Connecting", "Connection", "phone");
  QVERIFY(t.elapsed() < GeneralMessage::kLifetimeMs);
  QVERIFY(!ui.GeneralMessageOpen());
}

void Dialogs::progressCloseBoxRequestsAbort() {
  QtUi ui;
  ui.ProgressStart(0);
  QVERIFY(!ui.ProgressWindow());

  ui.SetProgressTitle("Copying to the card");
  ui.ProgressStart(4);
  ProgressDialog* p = ui.ProgressWindow();
  QVERIFY(p);
  QVERIFY(p->isVisible());
  QCOMPARE(p->windowTitle(), QStringLiteral("Copying to the card"));
  QCOMPARE(p->Maximum(), 5);
  ui.ProgressLine1("song 1");
  ui.ProgressStep(1);
  QCOMPARE(p->Value(), 1);
  QCOMPARE(p->Line1(), QStringLiteral("song 1"));

  // The close box: the window stays, the operation is asked to stop and the
  // first line says so in red.
  QVERIFY(!p->close());
  QVERIFY(p->isVisible());
  QVERIFY(ui.AbortRequested());
  QCOMPARE(p->Line1(), QStringLiteral("Abort"));
  QVERIFY(p->Line1IsRed());
  QCOMPARE(p->Line2(), QString());

  // A counted step does nothing outside counted mode; the end closes it.
  ui.ProgressStepCounted(1);
  QCOMPARE(p->Value(), 1);
  ui.ProgressEnd();
  QVERIFY(!ui.ProgressWindow());
  QVERIFY(!ui.AbortRequested());

  ui.ProgressStartCounted(3);
  QCOMPARE(ui.ProgressWindow()->Maximum(), 3);
  ui.ProgressStep(1);
  QCOMPARE(ui.ProgressWindow()->Value(), 0);
  ui.ProgressStepCounted(2);
  QCOMPARE(ui.ProgressWindow()->Value(), 2);
  ui.ProgressEnd();
}

void Dialogs::everyPictureLoadsByItsName() {
  const QDir art(QString::fromStdString((testing::SourceDir() / "data" / "art").string()));
  const QStringList files = art.entryList({QStringLiteral("*.svg")}, QDir::Files);
  if (files.isEmpty()) QSKIP("no pictures in data/art");
  for (const QString& file : files) {
    const QString name = file.chopped(4);
    QVERIFY2(Icons::Has(name), qPrintable(name));
    QVERIFY2(!Icons::NaturalSize(name).isEmpty(), qPrintable(name));
    QPixmap twice = Icons::Pixmap(name, QSize(20, 20), 2.0);
    QCOMPARE(twice.size(), QSize(40, 40));
    QCOMPARE(twice.deviceIndependentSize().toSize(), QSize(20, 20));
  }
  // The drag cursors say where their point is.
  for (const char* cursor : {"DRAGMOVECUR", "DRAGCOPYCUR", "DRAGNOCUR"}) {
    if (!Icons::Has(QString::fromLatin1(cursor))) continue;
    QPoint hot = Icons::Hotspot(QString::fromLatin1(cursor));
    QSize size = Icons::NaturalSize(QString::fromLatin1(cursor));
    QVERIFY2(hot.x() >= 0 && hot.y() >= 0 && hot.x() < size.width() && hot.y() < size.height(), cursor);
  }
  QVERIFY(!Icons::Has(QStringLiteral("NO SUCH PICTURE")));
  QVERIFY(Icons::Pixmap(QStringLiteral("NO SUCH PICTURE")).isNull());
}

QTEST_MAIN(Dialogs)
#include "dialogs_test.moc"
