// The user interface of the command-line tool: messages go to standard error
// as "CAPTION: TEXT", questions are answered by --yes / --no or asked on the
// terminal.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace kestro {

enum class AnswerMode { Ask, Yes, No };

// Texts from songs and players reach the terminal through these: every
// control character (C0 and C1, and DEL) is written as "\xHH", so that a
// title can neither move the cursor nor recolour the terminal. With
// `keepLineBreaks` line feeds and tabs stay (the dictionary's messages are
// laid out with them).
// A Latin-1 text, given back as UTF-8.
std::string TerminalText(std::string_view latin1, bool keepLineBreaks = false);
// A UTF-8 text (a file name), given back as UTF-8; C1 controls are written
// "\u0085".
std::string TerminalName(std::string_view utf8);

class TerminalUi : public Ui {
 public:
  explicit TerminalUi(AnswerMode mode, std::FILE* out = stderr, std::FILE* in = stdin);

  // Files a command line named, handed to the next chooser.
  std::optional<OpenFileResult> presetOpen;
  std::optional<SaveFileResult> presetSave;
  // Show progress on the terminal (only when `out` is a terminal).
  bool showProgress = true;

  void ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view picture) override;
  void CloseGeneralMessage() override {}
  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest& req) override;
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest& req) override;

 protected:
  int DoMessage(MessageRequest& req) override;
  void OnProgressChanged() override;

 private:
  int Ask(Buttons b);
  void ClearProgressLine();

  AnswerMode mode_;
  std::FILE* out_;
  std::FILE* in_;
  bool outIsTty_;
  bool progressShown_ = false;
  int lastPercent_ = -1;
  std::string lastLine1_;
};

}  // namespace kestro
