#include "gui/qt_ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QMessageBox>

#include "gui/general_message.h"
#include "gui/icons.h"
#include "gui/look.h"
#include "gui/message_dialog.h"
#include "gui/progress_dialog.h"

namespace kestro::gui {

namespace {

// Texts before the dictionary is loaded.
std::string FallbackText(std::string_view key) {
  if (key == "MSG_OK") return "OK";
  if (key == "MSG_CANCEL") return "Cancel";
  if (key == "MSG_YES") return "Yes";
  if (key == "MSG_NO") return "No";
  if (key == "MSG_ABORT") return "Abort";
  return std::string(key);
}

// "Name (*.A *.B)" from a description and "*.A;*.B".
QString FilterText(const std::string& name, const std::string& patterns) {
  QString p = FromLatin1(patterns);
  p.replace(QLatin1Char(';'), QLatin1Char(' '));
  // The file system keeps the case of names as they were written: offer both.
  QStringList all;
  for (const QString& one : p.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    all << one.toUpper() << one.toLower();
  }
  all.removeDuplicates();
  return FromLatin1(name) + QStringLiteral(" (") + all.join(QLatin1Char(' ')) + QLatin1Char(')');
}

}  // namespace

QtUi::QtUi() = default;

QtUi::~QtUi() {
  if (general_) delete general_.data();
  if (progress_) delete progress_.data();
  if (cursorOverridden_ && qApp) QGuiApplication::restoreOverrideCursor();
}

ProgressDialog* QtUi::ProgressWindow() const { return progress_.data(); }

std::string QtUi::Text(std::string_view key) const { return dict_ ? dict_->GetText(key) : FallbackText(key); }

int QtUi::DoMessage(MessageRequest& req) {
  if (answerMessages) return answerMessages(req);
  if (req.kind == BoxKind::System) return SystemBox(req);
  MessageDialog dialog(req, [this](std::string_view key) { return Text(key); }, owner_);
  if (owner_) owner_->activateWindow();
  dialog.exec();
  req.checkState = dialog.CheckState();
  return dialog.Result() == 3 ? kIdCancel : dialog.Result();
}

int QtUi::SystemBox(const MessageRequest& req) {
  QMessageBox box(owner_);
  box.setWindowTitle(FromLatin1(req.caption));
  box.setText(FromLatin1(req.text));
  switch (PictureForStyle(req.style)) {
    case Picture::Stop: box.setIcon(QMessageBox::Critical); break;
    case Picture::Question: box.setIcon(QMessageBox::Question); break;
    case Picture::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Picture::Information: box.setIcon(QMessageBox::Information); break;
  }
  switch (ButtonsForStyle(req.style)) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case Buttons::YesNoCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok: return kIdOk;
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    default: return ButtonsForStyle(req.style) == Buttons::Ok ? kIdOk : kIdCancel;
  }
}

void QtUi::ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view) {
  CloseGeneralMessage();
  auto* window = new GeneralMessage(std::string(text), std::string(caption), owner_);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setModal(true);
  general_ = window;
  // Modal as the notice of the original program: its own loop runs until it
  // closes itself or CloseGeneralMessage closes it; timers keep firing.
  QEventLoop loop;
  QObject::connect(window, &QDialog::finished, &loop, &QEventLoop::quit);
  QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
  window->show();
  loop.exec(QEventLoop::DialogExec);
}

void QtUi::CloseGeneralMessage() {
  if (general_) general_->done(QDialog::Accepted);
}

bool QtUi::GeneralMessageOpen() const { return general_ && general_->isVisible(); }

GeneralMessage* QtUi::OpenGeneralMessageWindow() const { return GeneralMessageOpen() ? general_.data() : nullptr; }

std::optional<OpenFileResult> QtUi::ChooseOpenFiles(const OpenFileRequest& req) {
  if (answerOpenFiles) return answerOpenFiles(req);
  QFileDialog dialog(owner_, FromLatin1(req.title), FromPath(req.folder));
  dialog.setFileMode(req.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters({FilterText(req.filterName, req.patterns), QStringLiteral("* (*)")});
  if (!req.defaultExt.empty()) dialog.setDefaultSuffix(FromLatin1(req.defaultExt));
  if (!req.initialName.empty()) dialog.selectFile(FromPath(req.initialName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  OpenFileResult r;
  r.folder = ToPath(dialog.directory().absolutePath());
  for (const QString& f : dialog.selectedFiles()) r.files.push_back(ToPath(f));
  if (r.files.empty()) return std::nullopt;
  return r;
}

std::optional<SaveFileResult> QtUi::ChooseSaveFile(const SaveFileRequest& req) {
  if (answerSaveFile) return answerSaveFile(req);
  QFileDialog dialog(owner_, FromLatin1(req.title), FromPath(req.folder));
  // The radio buttons go under the chooser's own widgets: Qt's chooser,
  // whatever the desktop's would be.
  std::vector<QRadioButton*> radios;
  if (!req.radioLabels.empty()) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* group = new QGroupBox(FromLatin1(Text("MSG_EXPORT_WHICH_LIST")), &dialog);
    auto* row = new QHBoxLayout(group);
    for (size_t i = 0; i < req.radioLabels.size(); ++i) {
      auto* r = new QRadioButton(FromLatin1(req.radioLabels[i]), group);
      r->setObjectName(QStringLiteral("radio%1").arg(i));
      r->setChecked(static_cast<int>(i) == req.radioChecked);
      row->addWidget(r);
      radios.push_back(r);
    }
    row->addStretch(1);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
      grid->addWidget(group, grid->rowCount(), 0, 1, grid->columnCount());
    } else if (dialog.layout()) {
      dialog.layout()->addWidget(group);
    }
  }
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({FilterText(req.filterName, req.patterns), QStringLiteral("* (*)")});
  if (!req.defaultExt.empty()) dialog.setDefaultSuffix(FromLatin1(req.defaultExt));
  if (!req.initialName.empty()) dialog.selectFile(FromPath(req.initialName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  SaveFileResult r;
  r.path = ToPath(dialog.selectedFiles().first());
  r.radioChecked = req.radioChecked;
  for (size_t i = 0; i < radios.size(); ++i) {
    if (radios[i]->isChecked()) r.radioChecked = static_cast<int>(i);
  }
  return r;
}

void QtUi::PumpMessages() { QCoreApplication::processEvents(); }

void QtUi::Repaint() {
  if (owner_) owner_->repaint();
}

void QtUi::OnProgressChanged() {
  const ProgressState& s = Progress();
  if (!s.open) {
    if (progress_) {
      progress_->hide();
      // Perhaps inside one of its own handlers: deleted once they returned.
      progress_->deleteLater();
      progress_ = nullptr;
    }
    return;
  }
  if (!progress_) {
    progress_ = new ProgressDialog(owner_);
    QObject::connect(progress_.data(), &ProgressDialog::abortRequested, [this] { RequestAbort(Text("MSG_ABORT")); });
    progress_->ShowState(s, FromLatin1(Text("MSG_ABORT")));
    progress_->adjustSize();
    if (owner_ && owner_->isVisible()) {
      progress_->move(owner_->frameGeometry().center() - progress_->rect().center());
    }
    progress_->show();
    // The main window keeps the keyboard.
    if (owner_) owner_->activateWindow();
    return;
  }
  progress_->ShowState(s, FromLatin1(Text("MSG_ABORT")));
}

void QtUi::OnStatusLine(int line) {
  if (statusLineChanged) statusLineChanged(line);
}

void QtUi::OnCursor(Cursor cursor) {
  if (!qApp) return;
  QCursor shape;
  switch (cursor) {
    case Cursor::Normal:
      if (cursorOverridden_) QGuiApplication::restoreOverrideCursor();
      cursorOverridden_ = false;
      return;
    case Cursor::Wait: shape = QCursor(Qt::WaitCursor); break;
    case Cursor::Copy: shape = Icons::Cursor(QStringLiteral("DRAGCOPYCUR"), Qt::DragCopyCursor); break;
    case Cursor::NoDrop: shape = Icons::Cursor(QStringLiteral("DRAGNOCUR"), Qt::ForbiddenCursor); break;
  }
  if (cursorOverridden_) {
    QGuiApplication::changeOverrideCursor(shape);
  } else {
    QGuiApplication::setOverrideCursor(shape);
    cursorOverridden_ = true;
  }
}

}  // namespace kestro::gui
