// One song list (the PC song folder's or the player side's) as a table: the
// rows show the library's records through a display-to-record mapping, so a
// column click sorts what is shown without moving the records the core works
// on. Rows can be dragged to the other list (the MIME data names the list they
// come from); the other list's rows and files of the desktop's file manager
// can be dropped here. A drop only reports what arrived: the window runs the
// transfer or the import once the drag has ended.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <optional>
#include <vector>

#include "library/song_record.h"

namespace kestro::gui {

enum class ListSide { Pc, Player };

class SongListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 4;  // title, performer, genre, file name
  static const char* const kMimeType;

  SongListModel(ListSide side, library::SongList& records, QObject* parent = nullptr);

  ListSide Side() const { return side_; }
  void SetColumnTitles(const QStringList& titles);
  // The records changed: rows anew in record order.
  void Reload();
  // Shows the rows sorted by the library's comparison of this list's side,
  // reversed when `descending`; a column of -1 shows the record order.
  void Sort(int column, bool descending);
  // Display row to record index and back (-1 when out of range).
  int RecordAt(int row) const;
  int RowOf(int record) const;
  const library::SongRecord* RecordOfRow(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  // The list a drag of songs comes from; nothing for other data.
  static std::optional<ListSide> SongsFrom(const QMimeData* data);
  // The local files of a drop from the file manager.
  static QStringList LocalFiles(const QMimeData* data);

 signals:
  // Songs of the other list were dropped here.
  void songsDropped(ListSide from);
  // Files of the file manager were dropped here.
  void filesDropped(const QStringList& paths);

 private:
  ListSide side_;
  library::SongList& records_;
  std::vector<int> order_;
  QStringList titles_;
  // Plain, texts edited, on both sides.
  QIcon rowIcons_[3];
};

}  // namespace kestro::gui
