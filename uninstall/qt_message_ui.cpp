#include "uninstall/qt_message_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <vector>


namespace kestro::uninstall {

QString FromSuiteText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

QString FromPath(const std::string& path) { return QString::fromStdString(path); }

}  // namespace

int QtMessageUi::DoMessage(MessageRequest& req) {
  QMessageBox box;
  box.setWindowTitle(FromSuiteText(req.caption));
  box.setText(FromSuiteText(req.text));
  switch (PictureForStyle(req.style)) {
    case Picture::Stop: box.setIcon(QMessageBox::Critical); break;
    case Picture::Question: box.setIcon(QMessageBox::Question); break;
    case Picture::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Picture::Information: box.setIcon(QMessageBox::Information); break;
  }
  struct Choice {
    QMessageBox::StandardButton button;
    int result;
  };
  std::vector<Choice> choices;
  switch (ButtonsForStyle(req.style)) {
    case Buttons::Ok: choices = {{QMessageBox::Ok, kIdOk}}; break;
    case Buttons::OkCancel: choices = {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}}; break;
    case Buttons::YesNo: choices = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}}; break;
    case Buttons::YesNoCancel:
      choices = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (const auto& c : choices) buttons |= c.button;
  box.setStandardButtons(buttons);
  const size_t def = (req.style & mb::kDefButton2) && choices.size() > 1 ? 1 : 0;
  box.setDefaultButton(choices[def].button);
  // Closing the box is its last button (Cancel or No), or OK when alone.
  box.setEscapeButton(choices.back().button);
  if (!req.checkText.empty()) {
    auto* check = new QCheckBox(FromSuiteText(req.checkText));
    check->setChecked(req.checkState);
    box.setCheckBox(check);
  }
  // A box asks for the pointer: the busy cursor of the work around it is
  // not meant for it.
  const bool busy = QGuiApplication::overrideCursor() != nullptr;
  if (busy) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (busy) QGuiApplication::restoreOverrideCursor();
  if (box.checkBox()) req.checkState = box.checkBox()->isChecked();
  const auto pressed = box.standardButton(box.clickedButton());
  for (const auto& c : choices) {
    if (c.button == pressed) return c.result;
  }
  return choices.back().result;
}

void QtMessageUi::OnCursor(Cursor cursor) {
  while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
  if (cursor == Cursor::Wait) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtMessageUi::ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view /*picture*/) {
  CloseGeneralMessage();
  general_ = new QMessageBox(QMessageBox::Information, FromSuiteText(caption), FromSuiteText(text),
                             QMessageBox::NoButton);
  general_->setAttribute(Qt::WA_DeleteOnClose);
  general_->show();
}

void QtMessageUi::CloseGeneralMessage() {
  if (general_) general_->close();
}

std::optional<OpenFileResult> QtMessageUi::ChooseOpenFiles(const OpenFileRequest& req) {
  const QString filter = FromSuiteText(req.filterName) + " (" + FromSuiteText(req.patterns).replace(';', ' ') + ")";
  QStringList files;
  if (req.multiple) {
    files = QFileDialog::getOpenFileNames(nullptr, FromSuiteText(req.title), FromPath(req.folder), filter);
  } else {
    QString f = QFileDialog::getOpenFileName(nullptr, FromSuiteText(req.title), FromPath(req.folder), filter);
    if (!f.isEmpty()) files << f;
  }
  if (files.isEmpty()) return std::nullopt;
  OpenFileResult r;
  for (const auto& f : files) r.files.push_back(f.toStdString());
  r.folder = QFileInfo(files.front()).absolutePath().toStdString();
  return r;
}

std::optional<SaveFileResult> QtMessageUi::ChooseSaveFile(const SaveFileRequest& req) {
  const QString filter = FromSuiteText(req.filterName) + " (" + FromSuiteText(req.patterns).replace(';', ' ') + ")";
  QString start = FromPath(req.folder);
  if (!req.initialName.empty()) start += "/" + FromPath(req.initialName);
  QString f = QFileDialog::getSaveFileName(nullptr, FromSuiteText(req.title), start, filter);
  if (f.isEmpty()) return std::nullopt;
  return SaveFileResult{f.toStdString(), req.radioChecked};
}

void QtMessageUi::PumpMessages() { QCoreApplication::processEvents(); }

}  // namespace kestro::uninstall
