// The progress window of long operations: its caption, two text lines and
// the bar. Its close box does not close it: it asks the running operation
// to stop, and the operation ends the window when it has stopped.
#pragma once

#include <QDialog>

#include "platform/ui.h"

class QLabel;
class QProgressBar;

namespace kestro::gui {

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* owner = nullptr);

  // Shows the state; the first line is drawn in red while it says `abortText`
  // after the user asked to stop.
  void ShowState(const ProgressState& state, const QString& abortText);

  QString Line1() const;
  QString Line2() const;
  bool Line1IsRed() const { return line1Red_; }
  int Value() const;
  int Maximum() const;

 signals:
  void abortRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* line1_;
  QLabel* line2_;
  QProgressBar* bar_;
  bool line1Red_ = false;
};

}  // namespace kestro::gui
