#include "gui/search_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/icons.h"
#include "gui/look.h"
#include "gui/main_window.h"
#include "library/lists.h"

namespace kestro::gui {

namespace {

constexpr int kMaxSearchText = 250;

QPushButton* PictureTextButton(const QString& picture, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  QIcon icon = Icons::Icon(picture);
  if (!icon.isNull()) {
    b->setIcon(icon);
    b->setIconSize(QSize(20, 20));
  }
  b->setAutoDefault(false);
  return b;
}

}  // namespace

SearchDialog::SearchDialog(MainWindow& window) : QDialog(&window), window_(window) {
  Env& env = window.env();
  auto T = [&env](const char* key) { return FromLatin1(env.T(key)); };
  setWindowTitle(T("MSG_MENU_FILE_SEARCH"));
  setObjectName(QStringLiteral("SEARCHDLG"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(T("MSG_SEARCH_TEXTSEARCH"), this));
  text_ = new QLineEdit(this);
  text_->setMaxLength(kMaxSearchText);
  text_->setText(window.searchText);
  text_->selectAll();
  layout->addWidget(text_);

  const library::SearchState& s = window.searchState;
  auto* where = new QGroupBox(T("MSG_SEARCH_FINDONTEXT"), this);
  auto* whereLayout = new QVBoxLayout(where);
  titles_ = new QCheckBox(T("MSG_SEARCH_CHECKTITLE"), where);
  performers_ = new QCheckBox(T("MSG_SEARCH_CHECKINTERPRET"), where);
  whereLayout->addWidget(titles_);
  whereLayout->addWidget(performers_);
  auto* lists = new QGroupBox(T("MSG_SEARCH_LIST"), this);
  auto* listsLayout = new QVBoxLayout(lists);
  pcList_ = new QCheckBox(T("MSG_SEARCH_CHECKPC"), lists);
  playerList_ = new QCheckBox(T("MSG_SEARCH_CHECKCARD"), lists);
  listsLayout->addWidget(pcList_);
  listsLayout->addWidget(playerList_);
  titles_->setChecked(s.titles);
  performers_->setChecked(s.performers);
  pcList_->setChecked(s.pcList);
  playerList_->setChecked(s.playerList);
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(where, 1);
  boxes->addWidget(lists, 1);
  layout->addLayout(boxes);

  next_ = PictureTextButton(QStringLiteral("SUCC"), T("MSG_SEARCH_NEXT"), this);
  selectAll_ = PictureTextButton(QStringLiteral("SELALL"), T("MSG_SEARCH_SELECTALL"), this);
  cancel_ = PictureTextButton(QStringLiteral("ANNULLA"), T("MSG_CANCEL"), this);
  next_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(next_);
  buttons->addWidget(selectAll_);
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(next_, &QPushButton::clicked, this, &SearchDialog::FindNext);
  connect(selectAll_, &QPushButton::clicked, this, &SearchDialog::SelectAll);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  for (QCheckBox* b : {titles_, performers_, pcList_, playerList_}) {
    connect(b, &QCheckBox::toggled, this, &SearchDialog::StoreChoices);
  }
  setMinimumWidth(420);
}

void SearchDialog::StoreChoices() {
  library::SearchState& s = window_.searchState;
  s.titles = titles_->isChecked();
  s.performers = performers_->isChecked();
  s.pcList = pcList_->isChecked();
  s.playerList = playerList_->isChecked();
}

void SearchDialog::FindNext() {
  StoreChoices();
  window_.searchText = text_->text();
  window_.FindNextMatch(ToLatin1(text_->text()));
}

void SearchDialog::SelectAll() {
  StoreChoices();
  window_.searchText = text_->text();
  if (window_.SelectAllMatches(ToLatin1(text_->text()))) accept();
}

void SearchDialog::done(int result) {
  StoreChoices();
  window_.searchText = text_->text();
  QDialog::done(result);
  window_.FocusSearchedList();
}

}  // namespace kestro::gui
