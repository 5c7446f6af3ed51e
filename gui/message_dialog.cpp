#include "gui/message_dialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "gui/icons.h"
#include "gui/look.h"

namespace kestro::gui {

namespace {

constexpr int kTextLeft = 62;
constexpr int kTextTop = 20;
constexpr int kPictureLeft = 18;
constexpr int kPictureTop = 18;
constexpr int kPictureSize = 32;

}  // namespace

QString MessageDialog::PictureFor(uint32_t style) {
  switch (PictureForStyle(style)) {
    case Picture::Stop: return QStringLiteral("264");
    case Picture::Question: return QStringLiteral("263");
    case Picture::Exclamation: return QStringLiteral("262");
    case Picture::Information: break;
  }
  return QStringLiteral("261");
}

MessageDialog::MessageDialog(const MessageRequest& request, std::function<std::string(std::string_view)> text,
                             QWidget* owner)
    : QDialog(owner), request_(request), text_(std::move(text)), checkState_(request.checkState) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(FromLatin1(request.caption));
  setFont(SmallFont());
  QFontMetrics fm(font());
  geometry_ = LayoutMessage(request.text, request.style, [&fm](std::string_view line) {
    return fm.size(Qt::TextSingleLine | Qt::TextExpandTabs, FromLatin1(std::string(line))).width();
  });
  pictureName_ = PictureFor(request.style);

  const MessageLayout::Button* specs[3] = {&geometry_.b1, &geometry_.b2, &geometry_.b3};
  int defaultButton = 1;
  if (request.style & mb::kDefButton2) {
    // The second button shown: No, or Cancel beside OK.
    defaultButton = geometry_.b2.visible ? 2 : (geometry_.b3.visible ? 3 : 1);
  }
  for (int i = 0; i < 3; ++i) {
    const MessageLayout::Button& b = *specs[i];
    if (!b.visible) continue;
    auto* button = new QPushButton(FromLatin1(text_(b.label)), this);
    button->setGeometry(b.left, b.top, b.right - b.left, b.bottom - b.top);
    button->setAutoDefault(false);
    button->setDefault(i + 1 == defaultButton);
    connect(button, &QPushButton::clicked, this, [this, i] { Press(i + 1); });
    buttons_[i] = button;
  }
  if (!request.checkText.empty()) {
    check_ = new QCheckBox(FromLatin1(request.checkText), this);
    check_->setChecked(request.checkState);
    check_->move(30, geometry_.height - 85);
    check_->adjustSize();
  }
  setFixedSize(geometry_.width, geometry_.height);

  // Centred on the owner, or on the screen without one.
  QRect area = owner && owner->isVisible() ? owner->frameGeometry()
                                           : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                                                : QRect(0, 0, 800, 600));
  move(area.center() - QPoint(geometry_.width / 2, geometry_.height / 2));
}

QPushButton* MessageDialog::Button(int n) const { return n >= 1 && n <= 3 ? buttons_[n - 1] : nullptr; }

int MessageDialog::DecliningButton() const {
  if (buttons_[2]) return 3;
  if (buttons_[1]) return 2;
  return 1;
}

void MessageDialog::Press(int n) {
  if (check_) checkState_ = check_->isChecked();
  result_ = ResultForButton(n, text_(geometry_.b1.label), text_("MSG_OK"));
  done(result_);
}

void MessageDialog::reject() { Press(DecliningButton()); }

void MessageDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), BackgroundColour());
  QPixmap picture = Icons::Pixmap(pictureName_, QSize(kPictureSize, kPictureSize), devicePixelRatioF());
  if (!picture.isNull()) p.drawPixmap(kPictureLeft, kPictureTop, picture);
  p.setPen(Qt::black);
  for (size_t i = 0; i < geometry_.lines.size(); ++i) {
    QRect r(kTextLeft, kTextTop + kLinePitch * static_cast<int>(i), width() - kTextLeft, kLinePitch + 7);
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs,
               FromLatin1(geometry_.lines[i]));
  }
}

}  // namespace kestro::gui
