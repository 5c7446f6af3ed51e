// Every picture of the program by its resource name ("KESTROBASE",
// "STATUSOK", "261", "CONNECT_3", ...), drawn from the SVG files of data/art
// that the build compiles into the program. Pictures are rendered at the
// screen's device pixel ratio, so they stay sharp on high-density screens.
// A picture that is not there gives an empty pixmap or icon and the window
// works without it.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>

namespace kestro::gui {

class Icons {
 public:
  static bool Has(const QString& name);
  // The size the drawing was made for; empty when the picture is missing.
  static QSize NaturalSize(const QString& name);
  // The picture at `size` logical pixels (its natural size when empty) for a
  // screen of `dpr` device pixels per logical pixel. Null when missing.
  static QPixmap Pixmap(const QString& name, QSize size = {}, qreal dpr = 1.0);
  // The same drawn afresh and not kept (for pictures that follow the
  // window's size).
  static QPixmap Render(const QString& name, QSize size, qreal dpr = 1.0);
  // A scalable icon; null when missing.
  static QIcon Icon(const QString& name);
  // A cursor drawn as a picture; its hot spot comes from the comment
  // "<!-- hotspot: X Y -->" of the drawing. `fallback` when missing.
  static QCursor Cursor(const QString& name, Qt::CursorShape fallback);
  static QPoint Hotspot(const QString& name);

  static QString ResourcePath(const QString& name);
};

}  // namespace kestro::gui
