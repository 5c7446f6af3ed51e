// The splash window: the SPLASH3 picture with the version, on top of
// everything, a third of the way down the screen. It closes after its display
// time or at a click.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

namespace kestro::gui {

class Splash : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 676;
  static constexpr int kHeight = 353;

  // `versionText` is the text of "MSG_VERSION". With a display time of 0 it
  // stays until it is closed.
  Splash(const QString& versionText, int displayMs, QWidget* owner = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QString version_;
  QTimer timer_;
};

}  // namespace kestro::gui
