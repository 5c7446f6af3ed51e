#include "uninstall/uninstall_dialog.h"

#include <QDialogButtonBox>
#include <algorithm>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "uninstall/qt_message_ui.h"

namespace kestro::uninstall {

UninstallDialog::UninstallDialog(const Dictionary& dict, Clock& clock, std::function<void()> removal,
                                 const QString& iconFile, QWidget* parent)
    : QDialog(parent), clock_(clock), removal_(std::move(removal)) {
  setObjectName("UNINSTALL_DLG");
  setWindowTitle(FromSuiteText(dict.GetText("MSG_UNINSTALL_TITLE")));
  QIcon icon(iconFile);
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_MessageBoxQuestion);
  setWindowIcon(icon);

  auto* picture = new QLabel;
  const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize) * 3 / 2;
  picture->setPixmap(icon.pixmap(QSize(side, side), devicePixelRatio()));
  picture->setAlignment(Qt::AlignTop);

  text_ = new QLabel(FromSuiteText(dict.GetText("IDC_ARE_YOU_SURE_TO_UNINSTALL")));
  text_->setObjectName("1001");
  text_->setTextFormat(Qt::PlainText);
  // Wide enough for the text's own lines; only a very long line wraps.
  int widest = 0;
  for (const QString& line : text_->text().split('\n')) widest = std::max(widest, fontMetrics().horizontalAdvance(line));
  const int chars = fontMetrics().averageCharWidth();
  text_->setWordWrap(true);
  text_->setMinimumWidth(std::clamp(widest + chars, chars * 30, chars * 72));

  auto* buttons = new QDialogButtonBox;
  ok_ = buttons->addButton(FromSuiteText(dict.GetText("UNINSTALL_IDOK")), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(FromSuiteText(dict.GetText("UNINSTALL_IDCANCEL")), QDialogButtonBox::RejectRole);
  ok_->setObjectName("IDOK");
  cancel_->setObjectName("IDCANCEL");
  // Removing is the step a stray Enter must not take.
  cancel_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { done(0); });

  auto* top = new QHBoxLayout;
  top->addWidget(picture);
  top->addSpacing(12);
  top->addWidget(text_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void UninstallDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  cancel_->setFocus();
}

void UninstallDialog::Ok() {
  ok_->setEnabled(false);
  cancel_->setEnabled(false);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  removal_();
  clock_.SleepMs(kAfterRemovalMs);
  QGuiApplication::restoreOverrideCursor();
  done(1);
}

}  // namespace kestro::uninstall
