// The main window's background: the background colour, and the KESTROBASE
// picture scaled to cover the window while keeping its proportions.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace kestro::gui {

class Backdrop : public QWidget {
  Q_OBJECT

 public:
  explicit Backdrop(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;  // at the last size drawn
};

}  // namespace kestro::gui
