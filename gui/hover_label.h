// The label shown under a picture of the menu bar or under the "INTERNET"
// button while the pointer rests on it: a white box with a thin black frame
// around one line of text.
#pragma once

#include <QLabel>

namespace kestro::gui {

class HoverLabel : public QLabel {
  Q_OBJECT

 public:
  explicit HoverLabel(QWidget* parent = nullptr);
  // Shows `text` with its top left corner at `pos` (parent coordinates),
  // kept inside the parent.
  void ShowAt(const QString& text, QPoint pos);
};

}  // namespace kestro::gui
