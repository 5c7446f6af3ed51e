#include "platform/ui.h"

#include <gtest/gtest.h>

#include "platform/scripted_ui.h"
#include "platform/terminal_ui.h"

namespace kestro {
namespace {

int CharWidth(std::string_view s) { return static_cast<int>(s.size()) * 6; }

TEST(MessageLayout, OneLineStopMessage) {
  MessageLayout m = LayoutMessage("Short", 0x10, CharWidth);
  EXPECT_EQ(m.lines.size(), 1u);
  EXPECT_EQ(m.height, 135);
  EXPECT_EQ(m.width, 180);
  EXPECT_EQ(PictureForStyle(0x10), Picture::Stop);
  ASSERT_TRUE(m.b1.visible);
  EXPECT_FALSE(m.b2.visible);
  EXPECT_FALSE(m.b3.visible);
  EXPECT_EQ(m.b1.label, "MSG_OK");
  EXPECT_EQ(m.b1.left, 90 - 42);
  EXPECT_EQ(m.b1.right - m.b1.left, 75);
  EXPECT_EQ(m.b1.top, 135 - 60);
  EXPECT_EQ(m.b1.bottom, 135 - 40);
}

TEST(MessageLayout, ButtonsAndPicturesFollowTheStyleWord) {
  struct Case {
    uint32_t style;
    Buttons buttons;
    Picture picture;
    int minWidth;
  } cases[] = {
      {0x00, Buttons::Ok, Picture::Information, 180},     {0x11, Buttons::OkCancel, Picture::Stop, 230},
      {0x124, Buttons::YesNo, Picture::Question, 230},    {0x33, Buttons::YesNoCancel, Picture::Exclamation, 325},
      {0x1010, Buttons::Ok, Picture::Stop, 180},          {0x40, Buttons::Ok, Picture::Information, 180},
      {0x34, Buttons::YesNo, Picture::Exclamation, 230},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ButtonsForStyle(c.style), c.buttons) << c.style;
    EXPECT_EQ(PictureForStyle(c.style), c.picture) << c.style;
    EXPECT_EQ(LayoutMessage("x", c.style, CharWidth).width, c.minWidth) << c.style;
  }
  MessageLayout yn = LayoutMessage("x", 0x124, CharWidth);
  EXPECT_EQ(yn.b1.left, 115 - 85);
  EXPECT_EQ(yn.b2.left, 115 + 10);
  EXPECT_FALSE(yn.b3.visible);
  EXPECT_EQ(yn.b3.right, 0);
  MessageLayout three = LayoutMessage("x", 3, CharWidth);
  EXPECT_EQ(three.b1.left, 162 - 132);
  EXPECT_EQ(three.b2.left, 162 - 37);
  EXPECT_EQ(three.b3.left, 162 + 58);
}

TEST(MessageLayout, SizeGrowsWithLinesAndWidestLine) {
  std::string wide(80, 'w');
  MessageLayout m = LayoutMessage("a\n" + wide + "\nc", 0, CharWidth);
  EXPECT_EQ(m.lines.size(), 3u);
  EXPECT_EQ(m.height, 13 * 3 + 110);
  EXPECT_EQ(m.width, 80 * 6 + 32 + 85);
}

TEST(MessageLayout, TwelveLineFeedsFillElevenSlots) {
  std::string text;
  for (int i = 0; i < 13; ++i) text += (i ? "\n" : "") + std::string("line") + std::to_string(i);
  auto lines = SplitMessageLines(text);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "line0");
  EXPECT_EQ(lines[9], "line9");
  EXPECT_EQ(lines[10], "line10\nline11\nline12");
  std::string longLine(150, 'z');
  auto cut = SplitMessageLines(longLine + "\n" + longLine);
  EXPECT_EQ(cut[0].size(), 99u);
  EXPECT_EQ(cut[1].size(), 99u);
}

TEST(MessageLayout, ResultCodes) {
  EXPECT_EQ(ResultForButton(1, "OK", "OK"), kIdOk);
  EXPECT_EQ(ResultForButton(1, "Sì", "OK"), kIdYes);
  EXPECT_EQ(ResultForButton(2, "Sì", "OK"), kIdNo);
  EXPECT_EQ(ResultForButton(3, "OK", "OK"), kIdCancel);
}

TEST(Progress, StartStepEndAndCountedMode) {
  ScriptedUi ui;
  ui.ProgressStart(0);
  EXPECT_FALSE(ui.Progress().open);
  ui.ProgressLine1("ignored");
  EXPECT_TRUE(ui.progressLog.empty());

  ui.SetProgressTitle("Copy");
  ui.ProgressStart(3);
  EXPECT_TRUE(ui.Progress().open);
  EXPECT_EQ(ui.Progress().caption, "Copy");
  EXPECT_EQ(ui.Progress().rangeMax, 4);
  ui.ProgressStep();
  ui.ProgressStepCounted();  // ignored outside counted mode
  EXPECT_EQ(ui.Progress().position, 1);
  ui.ProgressEnd();
  EXPECT_FALSE(ui.Progress().open);

  ui.ProgressStartCounted(5);
  EXPECT_TRUE(ui.Progress().counted);
  EXPECT_EQ(ui.Progress().rangeMax, 5);
  ui.ProgressStep(2);  // leaves the bar unchanged in counted mode
  EXPECT_EQ(ui.Progress().position, 0);
  ui.ProgressStepCounted(2);
  EXPECT_EQ(ui.Progress().position, 2);
  ui.ProgressReset(9);
  EXPECT_EQ(ui.Progress().rangeMax, 10);
  EXPECT_EQ(ui.Progress().position, 0);
}

TEST(Progress, AbortSetsTheFlagUntilTheWindowCloses) {
  ScriptedUi ui;
  ui.abortText = "Interrotto";
  ui.abortAfterSteps = 2;
  ui.ProgressStart(10);
  ui.ProgressLine1("working");
  ui.ProgressStep();
  EXPECT_FALSE(ui.AbortRequested());
  ui.ProgressStep();
  EXPECT_TRUE(ui.AbortRequested());
  EXPECT_EQ(ui.Progress().line1, "Interrotto");
  ui.ClearAbort();
  EXPECT_FALSE(ui.AbortRequested());
  ui.RequestAbort("Interrotto");
  ui.ProgressEnd();
  EXPECT_FALSE(ui.AbortRequested());
  // A new start clears a stale request too.
  ui.RequestAbort("x");
  ui.ProgressStart(1);
  EXPECT_FALSE(ui.AbortRequested());
}

TEST(ScriptedUi, AnswersQuestionsInOrderAndRecordsEverything) {
  ScriptedUi ui;
  ui.answers = {kIdYes, kIdNo};
  EXPECT_EQ(ui.ShowMessage("info", "Cap", 0x40), kIdOk);  // takes no answer
  EXPECT_EQ(ui.ShowMessage("q1", "Cap", 0x24), kIdYes);
  EXPECT_EQ(ui.SystemMessage("q2", "Alert", 0x21), kIdNo);
  EXPECT_EQ(ui.ShowMessage("q3", "Cap", 0x24), kIdNo);      // queue empty: No
  EXPECT_EQ(ui.ShowMessage("q4", "Cap", 0x21), kIdCancel);  // queue empty: Cancel
  ASSERT_EQ(ui.messages.size(), 5u);
  EXPECT_EQ(ui.messages[2].kind, BoxKind::System);
  EXPECT_EQ(ui.messages[2].caption, "Alert");
  EXPECT_EQ(ui.questionsAsked, 4);
}

TEST(ScriptedUi, CheckBoxStateComesBack) {
  ScriptedUi ui;
  ui.SetMessageCheckText("Visualizza ancora questo messaggio");
  ui.SetMessageCheckState(true);
  ui.checkAnswers = {false};
  ui.answers = {kIdYes};
  EXPECT_EQ(ui.ShowMessage("q", "c", 0x34), kIdYes);
  EXPECT_FALSE(ui.MessageCheckState());
  EXPECT_TRUE(ui.messages[0].checkState);
  EXPECT_EQ(ui.messages[0].checkText, "Visualizza ancora questo messaggio");
}

TEST(Cursor, OverrideIsRememberedOnce) {
  ScriptedUi ui;
  ui.BeginWaitCursor();
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Wait);
  ui.BeginCopyCursor();  // an override is active: ignored
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Wait);
  ui.EndCursor();
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Normal);
  ui.EndCursor();
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Normal);
  ui.BeginNoDropCursor();
  EXPECT_EQ(ui.CurrentCursor(), Cursor::NoDrop);
}

TEST(StatusLines, StoreAndRedraw) {
  ScriptedUi ui;
  ui.SetStatusLine(2, "64 MB");
  ui.SetStatusLine(2, std::nullopt);
  EXPECT_EQ(ui.StatusLine(2), "64 MB");
  ui.SetStatusLine(7, "ignored");
  EXPECT_EQ(ui.StatusLine(7), "");
}

TEST(TerminalText, ControlCharactersOfSongTextsAreWrittenEscaped) {
  struct Case {
    std::string in;
    bool keepLineBreaks;
    std::string out;
  } cases[] = {
      {"VOLARE", false, "VOLARE"},
      {"CAF\xC9", false, "CAF\xC3\x89"},                          // a Latin-1 letter, as UTF-8
      {"\x1B[31mROSSO\x1B[0m", false, "\\x1B[31mROSSO\\x1B[0m"},  // colours
      {"A\rB\bC\x7F", false, "A\\x0DB\\x08C\\x7F"},           // overwriting the line
      {"\x9B""2J", false, "\\x9B2J"},                             // the one-byte CSI
      {"riga 1\nriga 2\t!", false, "riga 1\\x0Ariga 2\\x09!"},
      {"riga 1\nriga 2\t!\x1B", true, "riga 1\nriga 2\t!\\x1B"},  // message layout stays
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalText(c.in, c.keepLineBreaks), c.out) << c.in;

  EXPECT_EQ(TerminalName("volare.MF4"), "volare.MF4");
  EXPECT_EQ(TerminalName("caf\xC3\xA9\x1B]0;x\x07.MF4"), "caf\xC3\xA9\\x1B]0;x\\x07.MF4");
  EXPECT_EQ(TerminalName("a\xC2\x9B""b"), "a\\u009Bb");

  // The messages of the command line go through it too.
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  TerminalUi ui(AnswerMode::No, out, stdin);
  ui.ShowMessage("Esiste gi\xE0:\n\x1B[2J\x1B[HVOLARE", "Attenzione", mb::kOk);
  std::rewind(out);
  std::string shown;
  for (int ch; (ch = std::fgetc(out)) != EOF;) shown += static_cast<char>(ch);
  std::fclose(out);
  EXPECT_EQ(shown, "Attenzione: Esiste gi\xC3\xA0:\n\\x1B[2J\\x1B[HVOLARE\n");
}

}  // namespace
}  // namespace kestro
