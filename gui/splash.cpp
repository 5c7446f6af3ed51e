#include "gui/splash.h"

#include <QGuiApplication>
#include <QBitmap>
#include <QPainter>
#include <QScreen>

#include "gui/icons.h"
#include "gui/look.h"

namespace kestro::gui {

Splash::Splash(const QString& versionText, int displayMs, QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      version_(versionText) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(kWidth, kHeight);
  setCursor(Qt::WaitCursor);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    QRect g = s->geometry();
    move(g.x() + (g.width() - kWidth) / 2, g.y() + (g.height() - kHeight) / 3);
  }
  // The picture's own outline, where the window system draws shaped windows.
  QPixmap art = Icons::Pixmap(QStringLiteral("SPLASH3"), size(), 1.0);
  if (!art.isNull() && art.hasAlphaChannel()) setMask(art.mask());
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &QWidget::close);
  if (displayMs > 0) timer_.start(displayMs);
}

void Splash::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QPixmap art = Icons::Pixmap(QStringLiteral("SPLASH3"), size(), devicePixelRatioF());
  if (art.isNull()) {
    p.fillRect(rect(), BackgroundColour());
    QFont big = font();
    big.setPixelSize(48);
    big.setBold(true);
    p.setFont(big);
    p.drawText(rect().adjusted(0, 0, 0, -80), Qt::AlignCenter, QStringLiteral("Kestro"));
    p.setFont(font());
  } else {
    p.drawPixmap(0, 0, art);
  }
  p.setPen(Qt::black);
  p.drawText(QPoint(256, 280 + QFontMetrics(font()).ascent()), QStringLiteral("%1 Version").arg(version_));
}

void Splash::mousePressEvent(QMouseEvent*) { close(); }

}  // namespace kestro::gui
