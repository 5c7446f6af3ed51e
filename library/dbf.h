// Reader of the song database MIDI.DBF, a dBASE table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::library {

class DbfTable {
 public:
  // OpenTable: nothing when the file cannot be read or is not a table.
  static std::unique_ptr<DbfTable> Open(const std::filesystem::path& path);

  // FindRecord: makes the first record whose key field equals `text` (byte
  // for byte, trailing blanks of the field ignored) the current one.
  bool FindRecord(std::string_view text, std::string_view keyField);
  // GetField: a field of the current record, at most maxLength characters,
  // without trailing blanks (the first character is always kept); false for
  // an unknown field or without a current record.
  bool GetField(std::string_view name, size_t maxLength, std::string* out) const;

  size_t RecordCount() const { return recordCount_; }
  size_t FieldCount() const { return fields_.size(); }

 private:
  struct Field {
    std::string name;
    size_t length;
    size_t offset;  // within the record, after the deletion flag
  };
  const Field* FindField(std::string_view name) const;

  std::vector<uint8_t> data_;
  std::vector<Field> fields_;
  size_t recordLength_ = 0;  // deletion flag included
  size_t firstRecord_ = 0;   // offset of the first record's deletion flag
  size_t recordCount_ = 0;
  long current_ = -1;
};

}  // namespace kestro::library
