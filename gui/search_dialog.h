// The search dialog: a text, where to look for it (titles, performers) and
// in which lists (the PC's, the player's). "Find next" selects the next
// matching row, going on in the other list at the end of one; "Select all"
// selects every matching row of the checked lists and closes. The check
// boxes keep their states for the next opening.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestro::gui {

class MainWindow;

class SearchDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SearchDialog(MainWindow& window);

  QLineEdit* TextField() const { return text_; }
  QCheckBox* Titles() const { return titles_; }
  QCheckBox* Performers() const { return performers_; }
  QCheckBox* PcList() const { return pcList_; }
  QCheckBox* PlayerList() const { return playerList_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* SelectAllButton() const { return selectAll_; }
  QPushButton* CancelButton() const { return cancel_; }

  void FindNext();
  void SelectAll();

 protected:
  void done(int result) override;

 private:
  // The check boxes into the window's search state.
  void StoreChoices();

  MainWindow& window_;
  QLineEdit* text_ = nullptr;
  QCheckBox* titles_ = nullptr;
  QCheckBox* performers_ = nullptr;
  QCheckBox* pcList_ = nullptr;
  QCheckBox* playerList_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* selectAll_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace kestro::gui
