#include "gui/picture_button.h"

#include <QPainter>
#include <QStyleOptionButton>

#include "gui/icons.h"

namespace kestro::gui {

PictureButton::PictureButton(const QString& normal, const QString& pressed, const QString& disabled, QWidget* parent)
    : QAbstractButton(parent), normal_(normal), pressed_(pressed), disabled_(disabled) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
}

QString PictureButton::CurrentPicture() const {
  if (!isEnabled() && !disabled_.isEmpty() && Icons::Has(disabled_)) return disabled_;
  if (isDown() && !pressed_.isEmpty()) return pressed_;
  return normal_;
}

QSize PictureButton::sizeHint() const {
  QSize s = Icons::NaturalSize(normal_);
  if (!s.isEmpty()) return s;
  return QSize(fontMetrics().horizontalAdvance(text()) + 16, 28);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QString name = CurrentPicture();
  QPixmap pm = Icons::Pixmap(name, size(), devicePixelRatioF());
  if (pm.isNull()) {
    QStyleOptionButton o;
    o.initFrom(this);
    o.text = text();
    if (isDown()) o.state |= QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_PushButton, &o, &p, this);
    return;
  }
  if (!isEnabled() && name == normal_) p.setOpacity(0.4);
  p.drawPixmap(0, 0, pm);
}

}  // namespace kestro::gui
