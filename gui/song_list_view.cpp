#include "gui/song_list_view.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <algorithm>

#include "gui/icons.h"
#include "gui/look.h"

namespace kestro::gui {

SongListView::SongListView(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
  setShowGrid(false);
  setWordWrap(false);
  setAlternatingRowColors(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setIconSize(QSize(12, 12));
  verticalHeader()->hide();
  // Every row as high as the next: scrolling a long list measures nothing.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int) {
    // The last column follows the list's width by itself.
    if (!fitting_ && section + 1 < horizontalHeader()->count()) userSized_ = true;
  });
}

void SongListView::SetPreferredWidths(const std::vector<int>& widths) {
  preferred_ = widths;
  userSized_ = false;
  FitColumns();
}

void SongListView::FitColumns() {
  if (preferred_.empty() || userSized_) return;
  int total = 0;
  for (int w : preferred_) total += w;
  const int room = viewport()->width();
  // Shrink in proportion rather than hide the last columns behind a scroll bar.
  const double scale = (total > room && room > 0) ? static_cast<double>(room) / total : 1.0;
  fitting_ = true;
  for (size_t c = 0; c < preferred_.size(); ++c) {
    int w = static_cast<int>(preferred_[c] * scale);
    setColumnWidth(static_cast<int>(c), std::max(w, preferred_[c] > 0 ? 24 : 0));
  }
  fitting_ = false;
}

void SongListView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FitColumns();
}

SongListModel* SongListView::SongModel() const { return qobject_cast<SongListModel*>(model()); }

std::vector<int> SongListView::SelectedRecords() const {
  std::vector<int> out;
  SongListModel* m = SongModel();
  if (!m || !selectionModel()) return out;
  for (const QModelIndex& i : selectionModel()->selectedRows()) out.push_back(m->RecordAt(i.row()));
  std::sort(out.begin(), out.end());
  return out;
}

void SongListView::SelectAllRows() { selectAll(); }

void SongListView::startDrag(Qt::DropActions) {
  if (dragAllowed && !dragAllowed()) return;
  SongListModel* m = SongModel();
  if (!m || !selectionModel()) return;
  QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(m->mimeData(rows));
  // The cursor is the feedback: copy over the other list, no drop elsewhere.
  QCursor copy = Icons::Cursor(QStringLiteral("DRAGCOPYCUR"), Qt::DragCopyCursor);
  QCursor no = Icons::Cursor(QStringLiteral("DRAGNOCUR"), Qt::ForbiddenCursor);
  if (!copy.pixmap().isNull()) drag->setDragCursor(copy.pixmap(), Qt::CopyAction);
  if (!no.pixmap().isNull()) drag->setDragCursor(no.pixmap(), Qt::IgnoreAction);
  drag->exec(Qt::CopyAction, Qt::CopyAction);
}

namespace {

// A drop is answered as a copy or not at all.
void AnswerDrop(QDropEvent* event, bool taken) {
  if (taken) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace

bool SongListView::CanTake(const QMimeData* mime) const {
  SongListModel* m = SongModel();
  return m && isEnabled() && m->canDropMimeData(mime, Qt::CopyAction, -1, -1, {});
}

void SongListView::dragEnterEvent(QDragEnterEvent* event) { AnswerDrop(event, CanTake(event->mimeData())); }

void SongListView::dragMoveEvent(QDragMoveEvent* event) { AnswerDrop(event, CanTake(event->mimeData())); }

void SongListView::dropEvent(QDropEvent* event) {
  SongListModel* m = SongModel();
  AnswerDrop(event, m && isEnabled() && m->dropMimeData(event->mimeData(), Qt::CopyAction, -1, -1, {}));
}

void SongListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    emit deletePressed();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace kestro::gui
