// "UNINSTALL_DLG": the question that starts the uninstaller, its text
// (control 1001) and the OK and Cancel buttons in the dictionary's words.
// OK runs the removal under the busy cursor, then ends the dialog with 1;
// Cancel or closing the window ends it with 0.
#pragma once

#include <QDialog>
#include <functional>

#include "context/dictionary.h"
#include "platform/clock.h"

class QLabel;
class QPushButton;

namespace kestro::uninstall {

class UninstallDialog final : public QDialog {
 public:
  // The pause after the removal before the dialog closes.
  static constexpr uint32_t kAfterRemovalMs = 500;

  UninstallDialog(const Dictionary& dict, Clock& clock, std::function<void()> removal, const QString& iconFile,
                  QWidget* parent = nullptr);

  QLabel* text() const { return text_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Ok();

  Clock& clock_;
  std::function<void()> removal_;
  QLabel* text_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace kestro::uninstall
