// A button drawn as a picture, with its pressed picture while the mouse holds
// it down and its disabled picture (or the normal one greyed) when it cannot
// be used. Without the pictures it shows its text.
#pragma once

#include <QAbstractButton>
#include <QString>

namespace kestro::gui {

class PictureButton : public QAbstractButton {
  Q_OBJECT

 public:
  PictureButton(const QString& normal, const QString& pressed, const QString& disabled, QWidget* parent = nullptr);

  // The picture the button shows now.
  QString CurrentPicture() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString normal_, pressed_, disabled_;
};

}  // namespace kestro::gui
