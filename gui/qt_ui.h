// The window's side of the core's user interface: the program's message
// dialog and the system's message box, the self-closing notice, the progress
// window whose close box asks the operation to stop, the status lines drawn
// by the main window, the file choosers and the cursors. Waiting loops of the
// core pump Qt's events through PumpMessages, so the window stays alive while
// an operation runs on the user-interface thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/ui.h"
#include "context/dictionary.h"

namespace kestro::gui {

class GeneralMessage;
class ProgressDialog;

class QtUi final : public Ui {
 public:
  QtUi();
  ~QtUi() override;

  // Button labels and the abort text come from here once it is loaded.
  void SetDictionary(const Dictionary* dict) { dict_ = dict; }
  // Dialogs are centred on and owned by this window.
  void SetOwner(QWidget* owner) { owner_ = owner; }
  QWidget* Owner() const { return owner_; }
  // Told when a status line changed.
  std::function<void(int line)> statusLineChanged;
  // Tests: answers every message box instead of showing it.
  std::function<int(const MessageRequest&)> answerMessages;
  // Tests: chooses files instead of showing the chooser.
  std::function<std::optional<OpenFileResult>(const OpenFileRequest&)> answerOpenFiles;
  // Tests: chooses the file to save (and the radio button) instead of the
  // chooser.
  std::function<std::optional<SaveFileResult>(const SaveFileRequest&)> answerSaveFile;

  void ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view picture) override;
  void CloseGeneralMessage() override;
  bool GeneralMessageOpen() const;
  GeneralMessage* OpenGeneralMessageWindow() const;

  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest& req) override;
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest& req) override;

  void PumpMessages() override;
  void Repaint() override;

  ProgressDialog* ProgressWindow() const;
  // The text of a key, also before the dictionary is there.
  std::string Text(std::string_view key) const;

 protected:
  int DoMessage(MessageRequest& req) override;
  void OnProgressChanged() override;
  void OnStatusLine(int line) override;
  void OnCursor(Cursor cursor) override;

 private:
  int SystemBox(const MessageRequest& req);

  const Dictionary* dict_ = nullptr;
  QPointer<QWidget> owner_;
  QPointer<ProgressDialog> progress_;  // a child of the owner while open
  QPointer<GeneralMessage> general_;
  bool cursorOverridden_ = false;
};

}  // namespace kestro::gui
