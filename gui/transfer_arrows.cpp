#include "gui/transfer_arrows.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "gui/icons.h"

namespace kestro::gui {

TransferArrows::TransferArrows(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TransferArrows::SetArrows(const QString& picture) {
  if (arrows_ == picture) return;
  arrows_ = picture;
  update();
}

QString TransferArrows::CurrentPicture() const {
  switch (armed_) {
    case Area::ToPc: return QStringLiteral("FRECCIADX");
    case Area::ToPlayer: return QStringLiteral("FRECCIASX");
    case Area::None: break;
  }
  return arrows_;
}

QSize TransferArrows::sizeHint() const {
  QSize s = Icons::NaturalSize(QStringLiteral("FRECCE"));
  return s.isEmpty() ? QSize(48, 96) : s;
}

TransferArrows::Area TransferArrows::AreaAt(const QPoint& pos) const {
  if (!rect().contains(pos)) return Area::None;
  return pos.y() < height() / 2 ? Area::ToPlayer : Area::ToPc;
}

void TransferArrows::SetTips(const QString& toPlayer, const QString& toPc) {
  tipToPlayer_ = toPlayer;
  tipToPc_ = toPc;
}

void TransferArrows::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QPixmap pm = Icons::Pixmap(CurrentPicture(), size(), devicePixelRatioF());
  if (!pm.isNull()) {
    p.drawPixmap(0, 0, pm);
    return;
  }
  // Without the pictures: two plain arrows, grey where the way is closed.
  auto arrow = [&](int y, bool right, bool open, bool pressed) {
    QColor c = !open ? QColor(150, 150, 160) : (pressed ? QColor(20, 90, 20) : QColor(30, 140, 30));
    int w = width() - 8, x = 4;
    QPolygon poly;
    if (right) {
      poly << QPoint(x, y - 6) << QPoint(x + w - 14, y - 6) << QPoint(x + w - 14, y - 14) << QPoint(x + w, y)
           << QPoint(x + w - 14, y + 14) << QPoint(x + w - 14, y + 6) << QPoint(x, y + 6);
    } else {
      poly << QPoint(x + w, y - 6) << QPoint(x + 14, y - 6) << QPoint(x + 14, y - 14) << QPoint(x, y)
           << QPoint(x + 14, y + 14) << QPoint(x + 14, y + 6) << QPoint(x + w, y + 6);
    }
    p.setPen(Qt::black);
    p.setBrush(c);
    p.drawPolygon(poly);
  };
  bool none = arrows_ == QLatin1String("FRECCENO");
  bool onlyLeft = arrows_ == QLatin1String("FRECCENOLEFT");
  arrow(height() / 4, true, !none && !onlyLeft, armed_ == Area::ToPlayer);
  arrow(3 * height() / 4, false, !none, armed_ == Area::ToPc);
}

void TransferArrows::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Area a = AreaAt(event->position().toPoint());
  if (a != Area::None && (!canArm || canArm(a))) {
    armed_ = a;
    update();
  }
}

void TransferArrows::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Area was = armed_;
  armed_ = Area::None;
  update();
  if (was == Area::None || AreaAt(event->position().toPoint()) != was) return;
  if (was == Area::ToPlayer) emit toPlayerClicked();
  else emit toPcClicked();
}

bool TransferArrows::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    Area a = AreaAt(help->pos());
    QString tip = a == Area::ToPlayer ? tipToPlayer_ : (a == Area::ToPc ? tipToPc_ : QString());
    if (tip.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(event);
}

}  // namespace kestro::gui
