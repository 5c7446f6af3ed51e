#include "gui/hover_label.h"

#include "gui/look.h"

namespace kestro::gui {

HoverLabel::HoverLabel(QWidget* parent) : QLabel(parent) {
  setFont(SmallFont());
  setTextFormat(Qt::PlainText);
  setStyleSheet(QStringLiteral("QLabel { background: white; color: black; border: 1px solid black; padding: 1px 4px; }"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
}

void HoverLabel::ShowAt(const QString& text, QPoint pos) {
  setText(text);
  adjustSize();
  if (QWidget* p = parentWidget()) {
    pos.setX(std::clamp(pos.x(), 0, std::max(0, p->width() - width())));
    pos.setY(std::clamp(pos.y(), 0, std::max(0, p->height() - height())));
  }
  move(pos);
  raise();
  show();
}

}  // namespace kestro::gui
