#include "gui/song_list_model.h"

#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <numeric>

#include "gui/icons.h"
#include "gui/look.h"
#include "library/lists.h"

namespace kestro::gui {

const char* const SongListModel::kMimeType = "application/x-kestro-songs";

namespace {

QByteArray SideName(ListSide side) { return side == ListSide::Pc ? QByteArrayLiteral("pc") : QByteArrayLiteral("player"); }

QString FileColumn(ListSide side, const library::SongRecord& r) {
  if (side == ListSide::Player) return FromLatin1(r.fileName);
  // The PC list keeps full paths; the name says enough.
  size_t slash = r.fileName.find_last_of('/');
  return FromPath(slash == std::string::npos ? r.fileName : r.fileName.substr(slash + 1));
}

}  // namespace

SongListModel::SongListModel(ListSide side, library::SongList& records, QObject* parent)
    : QAbstractTableModel(parent), side_(side), records_(records) {
  rowIcons_[0] = Icons::Icon(QStringLiteral("1104"));
  rowIcons_[1] = Icons::Icon(QStringLiteral("1105"));
  rowIcons_[2] = Icons::Icon(QStringLiteral("157"));
  Reload();
}

void SongListModel::SetColumnTitles(const QStringList& titles) {
  titles_ = titles;
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

void SongListModel::Reload() {
  beginResetModel();
  order_.resize(records_.size());
  std::iota(order_.begin(), order_.end(), 0);
  endResetModel();
}

void SongListModel::Sort(int column, bool descending) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  QModelIndexList before = persistentIndexList();
  std::vector<int> recordsBefore;
  recordsBefore.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& i : before) recordsBefore.push_back(RecordAt(i.row()));

  order_.resize(records_.size());
  std::iota(order_.begin(), order_.end(), 0);
  if (column >= 0) {
    auto compare = side_ == ListSide::Pc ? library::ComparePcRecords : library::ComparePlayerRecords;
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
      int c = compare(records_[static_cast<size_t>(a)], records_[static_cast<size_t>(b)], column);
      return descending ? c > 0 : c < 0;
    });
  }

  std::vector<int> rowOf(order_.size());
  for (size_t row = 0; row < order_.size(); ++row) rowOf[static_cast<size_t>(order_[row])] = static_cast<int>(row);
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype k = 0; k < before.size(); ++k) {
    int rec = recordsBefore[static_cast<size_t>(k)];
    after.push_back(rec < 0 ? QModelIndex() : index(rowOf[static_cast<size_t>(rec)], before[k].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int SongListModel::RecordAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= order_.size()) return -1;
  return order_[static_cast<size_t>(row)];
}

int SongListModel::RowOf(int record) const {
  auto it = std::find(order_.begin(), order_.end(), record);
  return it == order_.end() ? -1 : static_cast<int>(it - order_.begin());
}

const library::SongRecord* SongListModel::RecordOfRow(int row) const {
  int r = RecordAt(row);
  if (r < 0 || static_cast<size_t>(r) >= records_.size()) return nullptr;
  return &records_[static_cast<size_t>(r)];
}

int SongListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int SongListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant SongListModel::data(const QModelIndex& index, int role) const {
  const library::SongRecord* r = index.isValid() ? RecordOfRow(index.row()) : nullptr;
  if (!r) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    switch (index.column()) {
      case 0: return ShownSongText(r->title);
      case 1: return ShownSongText(r->author);
      case 2: return ShownSongText(r->genre);
      case 3: return FileColumn(side_, *r);
      default: return {};
    }
  }
  if (role == Qt::DecorationRole && index.column() == 0) {
    // On both sides wins over edited texts: it is what a transfer needs to know.
    if (r->existsOnTarget) return rowIcons_[2];
    if (r->infoEdited) return rowIcons_[1];
    return rowIcons_[0];
  }
  return {};
}

QVariant SongListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= titles_.size()) return {};
  return titles_[section];
}

Qt::ItemFlags SongListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList SongListModel::mimeTypes() const { return {QString::fromLatin1(kMimeType), QStringLiteral("text/uri-list")}; }

QMimeData* SongListModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<int> rows;
  for (const QModelIndex& i : indexes) {
    if (i.isValid()) rows.push_back(RecordAt(i.row()));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  QByteArray payload = SideName(side_);
  for (int r : rows) payload += ' ' + QByteArray::number(r);
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kMimeType), payload);
  return mime;
}

Qt::DropActions SongListModel::supportedDragActions() const { return Qt::CopyAction; }

Qt::DropActions SongListModel::supportedDropActions() const {
  // File managers offer a move or a link as often as a copy; the files stay
  // where they are whatever they offer.
  return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

std::optional<ListSide> SongListModel::SongsFrom(const QMimeData* data) {
  if (!data || !data->hasFormat(QString::fromLatin1(kMimeType))) return std::nullopt;
  QByteArray payload = data->data(QString::fromLatin1(kMimeType));
  QByteArray name = payload.left(payload.indexOf(' ') < 0 ? payload.size() : payload.indexOf(' '));
  if (name == SideName(ListSide::Pc)) return ListSide::Pc;
  if (name == SideName(ListSide::Player)) return ListSide::Player;
  return std::nullopt;
}

QStringList SongListModel::LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& u : data->urls()) {
    if (u.isLocalFile()) files << u.toLocalFile();
  }
  return files;
}

bool SongListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const {
  if (auto from = SongsFrom(data)) return *from != side_;
  return !LocalFiles(data).isEmpty();
}

bool SongListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
  if (!canDropMimeData(data, action, row, column, parent)) return false;
  if (auto from = SongsFrom(data)) {
    emit songsDropped(*from);
    return true;
  }
  emit filesDropped(LocalFiles(data));
  return true;
}

}  // namespace kestro::gui
