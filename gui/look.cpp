#include "gui/look.h"

#include <QApplication>
#include <QFontMetrics>

#include "platform/charmap.h"

namespace kestro::gui {

QColor BackgroundColour() { return QColor(199, 199, 208); }

QFont SmallFont() {
  QFont f = QApplication::font();
  for (int px = 12; px > 7; --px) {
    f.setPixelSize(px);
    if (QFontMetrics(f).lineSpacing() <= kLinePitch) return f;
  }
  return f;
}

QString FromLatin1(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }

QString ShownSongText(const std::string& playerText) { return FromLatin1(PlayerTextToLatin1(playerText)); }

QString FromPath(const std::string& path) { return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())); }

std::string ToPath(const QString& path) { return path.toUtf8().toStdString(); }

}  // namespace kestro::gui
