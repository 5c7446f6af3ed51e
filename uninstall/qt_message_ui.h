// The user interface of the uninstall programs on Qt: system message boxes
// (the only kind these programs show) and the busy cursor. The window's
// progress and status lines do not exist here.
#pragma once

#include <QMessageBox>
#include <QPointer>

#include "platform/ui.h"

namespace kestro::uninstall {

class QtMessageUi final : public Ui {
 public:
  void ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view picture) override;
  void CloseGeneralMessage() override;
  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest& req) override;
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest& req) override;
  void PumpMessages() override;

 protected:
  int DoMessage(MessageRequest& req) override;
  void OnCursor(Cursor cursor) override;

 private:
  QPointer<QMessageBox> general_;
};

// A text of the suite (Latin-1) for Qt.
QString FromSuiteText(std::string_view text);

}  // namespace kestro::uninstall
