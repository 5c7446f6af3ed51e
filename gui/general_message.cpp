#include "gui/general_message.h"

#include <QFontMetrics>
#include <QPainter>

#include "gui/icons.h"
#include "gui/look.h"
#include "platform/ui.h"

namespace kestro::gui {

namespace {

constexpr int kTextLeft = 20;
constexpr int kTextTop = 15;

}  // namespace

GeneralMessage::GeneralMessage(const std::string& text, const std::string& caption, QWidget* owner)
    : QDialog(owner), lines_(SplitMessageLines(text)) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  if (!caption.empty()) setWindowTitle(FromLatin1(caption));
  setFont(SmallFont());
  QFontMetrics fm(font());
  int widest = 0;
  for (const auto& l : lines_) widest = std::max(widest, fm.horizontalAdvance(FromLatin1(l)));
  picture_ = Icons::NaturalSize(QStringLiteral("CONNECT_0"));
  if (picture_.isEmpty()) picture_ = QSize(0, 0);
  int w = std::max({widest + 2 * kTextLeft, picture_.width() + 2 * kTextLeft, 240});
  int h = kTextTop + kLinePitch * static_cast<int>(lines_.size()) + 12 + picture_.height() + 15;
  setFixedSize(w, h);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &GeneralMessage::Animate);
  connect(this, &QDialog::finished, this, [this] {
    timer_.stop();
    frame_ = 0;
  });
}

void GeneralMessage::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (parentWidget() && parentWidget()->isVisible()) {
    move(parentWidget()->frameGeometry().center() - rect().center());
  }
  frame_ = 0;
  age_.start();
  timer_.start();
}

QRect GeneralMessage::PictureRect() const {
  int top = kTextTop + kLinePitch * static_cast<int>(lines_.size()) + 12;
  return QRect((width() - picture_.width()) / 2, top, picture_.width(), picture_.height());
}

void GeneralMessage::Animate() {
  frame_ = (frame_ + 1) % kFrames;
  update(PictureRect());
  if (age_.elapsed() >= kLifetimeMs) accept();
}

void GeneralMessage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), BackgroundColour());
  p.setPen(Qt::black);
  for (size_t i = 0; i < lines_.size(); ++i) {
    p.drawText(QRect(kTextLeft, kTextTop + kLinePitch * static_cast<int>(i), width() - kTextLeft, kLinePitch + 7),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs, FromLatin1(lines_[i]));
  }
  QRect pr = PictureRect();
  QPixmap frame = Icons::Pixmap(QStringLiteral("CONNECT_") + QString::number(frame_), pr.size(), devicePixelRatioF());
  if (!frame.isNull()) p.drawPixmap(pr.topLeft(), frame);
}

}  // namespace kestro::gui
