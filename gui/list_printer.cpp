#include "gui/list_printer.h"

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>

#include "gui/look.h"

namespace kestro::gui {

QtPagePainter::QtPagePainter(QPagedPaintDevice& device, QPainter& painter) : device_(device), painter_(painter) {
  // A hairline of the printer would all but vanish at 1200 dots an inch.
  QPen pen(Qt::black);
  pen.setWidth(std::max(1, device.logicalDpiX() / 150));
  painter_.setPen(pen);
  painter_.setBackgroundMode(Qt::TransparentMode);
}

int QtPagePainter::Width() const { return device_.width(); }
int QtPagePainter::Height() const { return device_.height(); }

void QtPagePainter::SetFont(int height, int averageWidth) {
  QFont font(QStringLiteral("Times New Roman"));
  font.setStyleHint(QFont::Serif);
  font.setWeight(QFont::Light);
  font.setPixelSize(std::max(1, height));
  // The asked height is that of the whole line, as the printer's fonts are
  // measured: shrink the size until a line fits it.
  QFontMetrics m(font, &device_);
  if (m.height() > height && m.height() > 0) {
    font.setPixelSize(std::max(1, height * height / m.height()));
    m = QFontMetrics(font, &device_);
  }
  if (averageWidth > 0 && m.averageCharWidth() > 0) {
    int stretch = std::clamp(100 * averageWidth / m.averageCharWidth(), 60, 140);
    if (std::abs(stretch - 100) > 3) font.setStretch(stretch);
  }
  painter_.setFont(font);
}

int QtPagePainter::TextHeight() const { return QFontMetrics(painter_.font(), &device_).height(); }

int QtPagePainter::TextWidth(std::string_view s) const {
  return QFontMetrics(painter_.font(), &device_).horizontalAdvance(FromLatin1(std::string(s)));
}

void QtPagePainter::Text(int x, int top, std::string_view s) {
  painter_.drawText(x, top + QFontMetrics(painter_.font(), &device_).ascent(), FromLatin1(std::string(s)));
}

void QtPagePainter::Line(int x0, int y0, int x1, int y1) { painter_.drawLine(x0, y0, x1, y1); }

void QtPagePainter::FillGrey(int x0, int y0, int x1, int y1) {
  painter_.fillRect(QRect(QPoint(std::min(x0, x1), std::min(y0, y1)), QPoint(std::max(x0, x1), std::max(y0, y1))),
                    QColor(224, 224, 224));
}

bool QtPagePainter::NewPage() { return device_.newPage(); }

int PrintListOn(QPagedPaintDevice& device, const library::PrintJob& job) {
  QPainter painter;
  if (!painter.begin(&device)) return 0;
  QtPagePainter adapter(device, painter);
  int pages = library::PrintPages(adapter, job);
  painter.end();
  return pages;
}

}  // namespace kestro::gui
