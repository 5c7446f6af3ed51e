// The self-closing notice: its text lines over the background colour and the
// connection animation (CONNECT_0 to CONNECT_9, a frame every 200 ms). It
// closes itself five seconds after it opened.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <string>
#include <vector>

namespace kestro::gui {

class GeneralMessage : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kFrameMs = 200;
  static constexpr int kLifetimeMs = 5000;
  static constexpr int kFrames = 10;

  GeneralMessage(const std::string& text, const std::string& caption, QWidget* owner = nullptr);

  int Frame() const { return frame_; }
  const std::vector<std::string>& Lines() const { return lines_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Animate();
  QRect PictureRect() const;

  std::vector<std::string> lines_;
  QTimer timer_;
  QElapsedTimer age_;
  int frame_ = 0;
  QSize picture_;
};

}  // namespace kestro::gui
