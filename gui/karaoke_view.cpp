#include "gui/karaoke_view.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QStringList>
#include <algorithm>

#include "gui/look.h"

namespace kestro::gui {

const QColor KaraokeView::kBackground(12, 18, 48);
const QColor KaraokeView::kToSing(240, 240, 240);
const QColor KaraokeView::kSung(255, 196, 0);
const QColor KaraokeView::kChord(120, 200, 255);

namespace {

constexpr int kMargin = 14;
constexpr int kLines = 4;

QFont ScreenFont(int pixelSize, bool bold) {
  QFont f;
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(std::max(pixelSize, 6));
  f.setBold(bold);
  return f;
}

// The largest font, up to `pixelSize`, in which every text fits `width`.
QFont FittingFont(int pixelSize, bool bold, const QStringList& texts, int width) {
  QFont f = ScreenFont(pixelSize, bold);
  for (int size = pixelSize; size > 6; --size) {
    f = ScreenFont(size, bold);
    QFontMetrics m(f);
    bool fits = true;
    for (const QString& t : texts) fits = fits && m.horizontalAdvance(t) <= width;
    if (fits) break;
  }
  return f;
}

}  // namespace

KaraokeView::KaraokeView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setObjectName(QStringLiteral("Karaoke"));
}

void KaraokeView::SetSong(std::shared_ptr<const KaraokeTimeline> song) {
  song_ = std::move(song);
  screen_ = song_ ? song_->At(0) : KaraokeScreen{};
  update();
}

void KaraokeView::ShowAt(double seconds) {
  if (!song_) return;
  KaraokeScreen now = song_->At(seconds);
  if (now == screen_) return;
  screen_ = std::move(now);
  update();
}

QString KaraokeView::LineText(int i) const {
  if (i < 0 || i >= kLines) return {};
  return FromLatin1(screen_.lines[static_cast<size_t>(i)].text);
}

QString KaraokeView::SungText(int i) const {
  if (i < 0 || i >= kLines) return {};
  const KaraokeLine& l = screen_.lines[static_cast<size_t>(i)];
  return FromLatin1(l.text.substr(0, std::min(l.coloured, l.text.size())));
}

QSize KaraokeView::sizeHint() const { return {640, 210}; }

QSize KaraokeView::minimumSizeHint() const { return {320, 130}; }

KaraokeView::Layout KaraokeView::LayoutFor(int height) const {
  Layout l;
  // The chord sits over the lines in a strip of its own, so that the page
  // does not move when a song has chords.
  l.chordHeight = std::max(height / 9, 12);
  l.top = kMargin / 2 + l.chordHeight;
  l.lineHeight = std::max((height - l.top - kMargin / 2) / kLines, 8);
  return l;
}

int KaraokeView::LineCentreY(int i) const {
  const Layout l = LayoutFor(height());
  if (screen_.titleCard) {
    // Title and performer in the middle of the screen.
    const int middle = l.top + 2 * l.lineHeight;
    return i == 0 ? middle - l.lineHeight / 2 : middle + l.lineHeight / 2;
  }
  return l.top + i * l.lineHeight + l.lineHeight / 2;
}

void KaraokeView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, kBackground.lighter(150));
  sky.setColorAt(1, kBackground);
  p.fillRect(rect(), sky);

  const Layout l = LayoutFor(height());
  const int textWidth = width() - 2 * kMargin;
  if (!song_) return;

  if (!screen_.chord.empty()) {
    p.setFont(ScreenFont(l.chordHeight * 8 / 10, true));
    p.setPen(kChord);
    p.drawText(QRect(kMargin, kMargin / 2, textWidth, l.chordHeight), Qt::AlignRight | Qt::AlignVCenter,
               FromLatin1(screen_.chord));
  }

  QStringList texts;
  for (int i = 0; i < kLines; ++i) texts << LineText(i);
  if (screen_.titleCard) {
    // The title large, the performer under it.
    const QFont title = FittingFont(l.lineHeight * 7 / 10, true, {texts[0]}, textWidth);
    const QFont performer = FittingFont(l.lineHeight * 5 / 10, false, {texts[1]}, textWidth);
    p.setPen(kToSing);
    p.setFont(title);
    p.drawText(QRect(kMargin, LineCentreY(0) - l.lineHeight / 2, textWidth, l.lineHeight), Qt::AlignCenter, texts[0]);
    p.setPen(kToSing.darker(125));
    p.setFont(performer);
    p.drawText(QRect(kMargin, LineCentreY(1) - l.lineHeight / 2, textWidth, l.lineHeight), Qt::AlignCenter, texts[1]);
    return;
  }

  // One font for the whole page, so that its lines do not change size as
  // they come.
  const QFont font = FittingFont(l.lineHeight * 7 / 10, true, texts, textWidth);
  const QFontMetrics m(font);
  p.setFont(font);
  for (int i = 0; i < kLines; ++i) {
    const QString text = texts[i];
    if (text.isEmpty()) continue;
    const QString sung = SungText(i);
    const int full = m.horizontalAdvance(text);
    const int x = kMargin + (textWidth - full) / 2;
    const int baseline = LineCentreY(i) + (m.ascent() - m.descent()) / 2;
    // The line in the colour still to sing, then its sung part over it;
    // drawn whole each time, so the letters keep their spacing.
    p.setPen(kToSing);
    p.drawText(x, baseline, text);
    if (!sung.isEmpty()) {
      // A line sung to its end takes its last letter's overhang with it.
      const int sungWidth = sung.size() == text.size() ? full + m.maxWidth() : m.horizontalAdvance(sung);
      p.save();
      p.setClipRect(QRect(x - 2, baseline - m.ascent() - 2, sungWidth + 2, m.height() + 4));
      p.setPen(kSung);
      p.drawText(x, baseline, text);
      p.restore();
    }
  }
}

}  // namespace kestro::gui
