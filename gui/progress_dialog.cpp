#include "gui/progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include "gui/look.h"

namespace kestro::gui {

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setModal(false);
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(10, 12, 10, 12);
  box->setSpacing(6);
  line1_ = new QLabel(this);
  line2_ = new QLabel(this);
  for (QLabel* l : {line1_, line2_}) {
    l->setTextFormat(Qt::PlainText);
    l->setFont(SmallFont());
    l->setMinimumHeight(16);
  }
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setFixedHeight(16);
  box->addWidget(line1_);
  box->addWidget(line2_);
  box->addSpacing(4);
  box->addWidget(bar_);
  setFixedWidth(380);
}

void ProgressDialog::ShowState(const ProgressState& s, const QString& abortText) {
  setWindowTitle(FromLatin1(s.caption));
  bar_->setRange(0, std::max(s.rangeMax, 0));
  bar_->setValue(std::clamp(s.position, 0, std::max(s.rangeMax, 0)));
  QString l1 = FromLatin1(s.line1);
  line1Red_ = s.abort && l1 == abortText;
  QPalette pal = line1_->palette();
  pal.setColor(QPalette::WindowText, line1Red_ ? QColor(Qt::red) : QColor(Qt::black));
  line1_->setPalette(pal);
  line1_->setText(l1);
  line2_->setText(FromLatin1(s.line2));
}

QString ProgressDialog::Line1() const { return line1_->text(); }
QString ProgressDialog::Line2() const { return line2_->text(); }
int ProgressDialog::Value() const { return bar_->value(); }
int ProgressDialog::Maximum() const { return bar_->maximum(); }

void ProgressDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit abortRequested();
}

void ProgressDialog::reject() { emit abortRequested(); }

void ProgressDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), BackgroundColour());
}

}  // namespace kestro::gui
