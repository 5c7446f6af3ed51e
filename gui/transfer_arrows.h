// The arrows between the two lists. The picture tells which way songs can go
// (both, none, or only to the PC from a memory player on the FTDI bridge);
// its upper half sends the PC list's selection to the player ("TO_ZUMBLA"),
// its lower half brings the player list's selection to the PC ("TO_PC").
// A half arms at the press only when its way is open, shows its pressed
// picture, and acts at a release over the same half.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

namespace kestro::gui {

class TransferArrows : public QWidget {
  Q_OBJECT

 public:
  enum class Area { None, ToPlayer, ToPc };

  explicit TransferArrows(QWidget* parent = nullptr);

  // "FRECCE", "FRECCENO" or "FRECCENOLEFT".
  void SetArrows(const QString& picture);
  QString Arrows() const { return arrows_; }
  // The picture shown now (the pressed one while a half is held).
  QString CurrentPicture() const;
  // Whether a half may arm now.
  std::function<bool(Area)> canArm;
  // The half at a point of the widget.
  Area AreaAt(const QPoint& pos) const;
  void SetTips(const QString& toPlayer, const QString& toPc);

  QSize sizeHint() const override;

 signals:
  void toPlayerClicked();
  void toPcClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString arrows_ = QStringLiteral("FRECCENO");
  Area armed_ = Area::None;
  QString tipToPlayer_, tipToPc_;
};

}  // namespace kestro::gui
