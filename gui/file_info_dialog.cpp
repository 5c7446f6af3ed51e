#include "gui/file_info_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <fstream>

#include "gui/look.h"
#include "library/pc_folder.h"
#include "platform/fileutil.h"

namespace kestro::gui {

namespace fs = std::filesystem;

namespace {

constexpr int kFolderWidth = 380;

QComboBox* SuggestionList(const fs::path& file, const std::string& value, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string& line : library::LoadSuggestionList(file)) box->addItem(FromLatin1(line));
  box->lineEdit()->setMaxLength(FileInfoDialog::kMaxText);
  box->setEditText(FromLatin1(value));
  box->setMaxVisibleItems(16);
  box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return box;
}

QLineEdit* TextField(const std::string& value, QWidget* parent) {
  auto* e = new QLineEdit(FromLatin1(value), parent);
  e->setMaxLength(FileInfoDialog::kMaxText);
  return e;
}

// The first bytes of a song file, as the PC scan reads them.
std::optional<Bytes> ReadHead(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes b(library::kSongHeadBytes);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  b.resize(static_cast<size_t>(in.gcount()));
  return b;
}

}  // namespace

std::optional<library::SongTexts> FileInfoDialog::ReadTexts(Env& env, const fs::path& file) {
  auto head = ReadHead(file);
  if (!head) {
    env.ui.ShowMessage(env.TF("MSG_CANTOPEN", file.string()), env.T("MSG_READERROR"), mb::kIconStop);
    return std::nullopt;
  }
  return library::ReadStoredTexts(file.string(), head->data(), head->size());
}

FileInfoDialog::FileInfoDialog(Env& env, const fs::path& file, const library::SongTexts& texts, QWidget* parent)
    : QDialog(parent), env_(env), file_(file), read_(texts) {
  setObjectName(QStringLiteral("FileInfoDlg"));
  setWindowTitle(FromLatin1(env.T("MSG_FILEINFO_CAPTION")));
  auto T = [&env](const char* key) { return FromLatin1(env.T(key)); };
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  auto* name = new QLabel(FromPath(file.filename().string()), this);
  name->setTextInteractionFlags(Qt::TextSelectableByMouse);
  name->setToolTip(FromPath(file.string()));
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  form->addRow(T("MSG_FILEINFO_FILENAME"), name);
  // The folder on one line, shortened in its middle when long.
  const QString folderText = FromPath(file.parent_path().string());
  auto* folder = new QLabel(this);
  folder->setText(folder->fontMetrics().elidedText(folderText, Qt::ElideMiddle, kFolderWidth));
  folder->setToolTip(folderText);
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(QString(), folder);
  title_ = TextField(texts.title, this);
  performer_ = SuggestionList(env.InstallPath("Artist.dat"), texts.performer, this);
  genre_ = SuggestionList(env.InstallPath("genere.dat"), texts.genre, this);
  editor_ = TextField(texts.editor, this);
  author_ = TextField(texts.author, this);
  rights_ = TextField(texts.rights, this);
  rights_->setReadOnly(true);
  rights_->setFrame(false);
  form->addRow(T("MSG_FILEINFO_TITLE"), title_);
  form->addRow(T("MSG_FILEINFO_INTERPRET"), performer_);
  form->addRow(T("MSG_FILEINFO_CATEGORY"), genre_);
  form->addRow(T("MSG_FILEINFO_EDITOR"), editor_);
  form->addRow(T("MSG_FILEINFO_AUTHOR"), author_);
  form->addRow(QStringLiteral("\xA9"), rights_);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(T("MSG_OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(T("MSG_CANCEL"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Save()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(460);
}

library::SongTexts FileInfoDialog::Texts() const {
  library::SongTexts t;
  t.title = ToLatin1(title_->text());
  t.performer = ToLatin1(performer_->currentText());
  t.genre = ToLatin1(genre_->currentText());
  t.editor = ToLatin1(editor_->text());
  t.author = ToLatin1(author_->text());
  // Shown only: written back as it was read.
  t.rights = read_.rights;
  return t;
}

bool FileInfoDialog::Save() {
  written_ = library::WriteSongTexts(file_, Texts(), env_.installDir);
  if (!written_) {
    env_.ui.ShowMessage(env_.TF("MSG_CANTCREATE", file_.string()), env_.T("MSG_WRITEERROR"), mb::kIconStop);
  }
  return written_;
}

}  // namespace kestro::gui
