// The information of one PC song: its file, and the title, performer,
// genre, editor and author stored in its MF4 header or MP3 tag, which the
// user edits and OK writes back. Performers and genres are offered from the
// install folder's suggestion lists; the rights text is shown only.
#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>

#include "context/env.h"
#include "library/song_texts.h"

class QComboBox;
class QLineEdit;

namespace kestro::gui {

class FileInfoDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxText = 31;

  // Reads the file's texts; nothing (after "MSG_CANTOPEN") when the file
  // cannot be read.
  static std::optional<library::SongTexts> ReadTexts(Env& env, const std::filesystem::path& file);

  FileInfoDialog(Env& env, const std::filesystem::path& file, const library::SongTexts& texts,
                 QWidget* parent = nullptr);

  library::SongTexts Texts() const;
  // OK: writes the texts; on failure "MSG_CANTCREATE" and the dialog stays
  // open. Returns whether the file was written.
  bool Save();
  // Whether the last OK wrote the file.
  bool Written() const { return written_; }

  QLineEdit* Title() const { return title_; }
  QComboBox* Performer() const { return performer_; }
  QComboBox* Genre() const { return genre_; }
  QLineEdit* Editor() const { return editor_; }
  QLineEdit* Author() const { return author_; }
  QLineEdit* Rights() const { return rights_; }

 private:
  Env& env_;
  std::filesystem::path file_;
  library::SongTexts read_;
  bool written_ = false;
  QLineEdit* title_ = nullptr;
  QComboBox* performer_ = nullptr;
  QComboBox* genre_ = nullptr;
  QLineEdit* editor_ = nullptr;
  QLineEdit* author_ = nullptr;
  QLineEdit* rights_ = nullptr;
};

}  // namespace kestro::gui
