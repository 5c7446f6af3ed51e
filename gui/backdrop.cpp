#include "gui/backdrop.h"

#include <QPainter>

#include "gui/icons.h"
#include "gui/look.h"

namespace kestro::gui {

Backdrop::Backdrop(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Backdrop::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), BackgroundColour());
  QSize natural = Icons::NaturalSize(QStringLiteral("KESTROBASE"));
  if (natural.isEmpty()) return;
  QSize cover = natural.scaled(size(), Qt::KeepAspectRatioByExpanding);
  if (picture_.isNull() || picture_.deviceIndependentSize().toSize() != cover ||
      picture_.devicePixelRatio() != devicePixelRatioF()) {
    picture_ = Icons::Render(QStringLiteral("KESTROBASE"), cover, devicePixelRatioF());
  }
  p.drawPixmap((width() - cover.width()) / 2, (height() - cover.height()) / 2, picture_);
}

}  // namespace kestro::gui
