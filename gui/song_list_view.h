// A song list on screen: rows selected whole, a drag of the selection that
// shows the copy and no-drop cursors instead of a drag image, drops taken by
// the model, and the Delete key reported to the window.
#pragma once

#include <QTableView>
#include <functional>
#include <vector>

#include "gui/song_list_model.h"

namespace kestro::gui {

class SongListView : public QTableView {
  Q_OBJECT

 public:
  explicit SongListView(QWidget* parent = nullptr);

  SongListModel* SongModel() const;
  // Asked before a drag begins (no drag while an operation runs).
  std::function<bool()> dragAllowed;
  // The record indexes of the selected rows.
  std::vector<int> SelectedRecords() const;
  // Selects every row.
  void SelectAllRows();
  // The columns' widths as configured; while the list is narrower than their
  // sum they are shown shrunk in proportion, until the user drags a column.
  void SetPreferredWidths(const std::vector<int>& widths);

 signals:
  void deletePressed();

 protected:
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool CanTake(const QMimeData* mime) const;
  void FitColumns();

  std::vector<int> preferred_;
  bool fitting_ = false;
  bool userSized_ = false;
};

}  // namespace kestro::gui
