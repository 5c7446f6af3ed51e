// The player's screen while a song plays on the PC: the four lines of the
// page being sung, each coloured from its start as far as it has been sung,
// and the chord being played; before the first page, and for a song
// without text, the title and the performer. The view only draws: what the
// screen holds at a play time comes from the song's karaoke timeline.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <memory>

#include "convert/karaoke_screen.h"

namespace kestro::gui {

class KaraokeView : public QWidget {
  Q_OBJECT

 public:
  // The colours of the screen: words still to sing, words sung, the chord.
  static const QColor kBackground;
  static const QColor kToSing;
  static const QColor kSung;
  static const QColor kChord;

  explicit KaraokeView(QWidget* parent = nullptr);

  // The song whose screen is shown (none: an empty screen), from its start.
  void SetSong(std::shared_ptr<const KaraokeTimeline> song);
  const std::shared_ptr<const KaraokeTimeline>& Song() const { return song_; }
  // The screen at `seconds` of play time; repainted only when it changed.
  void ShowAt(double seconds);

  const KaraokeScreen& Screen() const { return screen_; }
  // Line `i` (0 to 3) as shown, and the part of it coloured as sung.
  QString LineText(int i) const;
  QString SungText(int i) const;
  // Where line `i` is drawn (its middle, in the view's coordinates).
  int LineCentreY(int i) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Layout {
    int top = 0;
    int lineHeight = 0;
    int chordHeight = 0;
  };
  Layout LayoutFor(int height) const;

  std::shared_ptr<const KaraokeTimeline> song_;
  KaraokeScreen screen_;
};

}  // namespace kestro::gui
