// The user interface of the command-line tool: messages go to standard error
// as "CAPTION: TEXT", questions are answered by --yes / --no or asked on the
// terminal.
#pragma once

#include <cstdio>
#include <optional>

#include "platform/ui.h"

namespace kestro {

enum class AnswerMode { Ask, Yes, No };

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
