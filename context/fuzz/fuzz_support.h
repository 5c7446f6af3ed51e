// What the fuzz targets share: a private scratch folder for the readers that
// want a path, a user who answers every question and reads nothing, and an
// Env on a virtual clock with an empty dictionary (every text reads
// "KEY: String Error"), so that a run costs no waiting and depends on the
// input alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "context/dictionary.h"
#include "context/env.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace kestro::fuzz {

// A folder of this process (on /dev/shm when there is one), made at the first
// call and removed when the process ends normally.
const std::filesystem::path& ScratchDir();
// Writes the bytes to ScratchDir()/name and returns the path.
std::filesystem::path PutFile(std::string_view name, const uint8_t* data, size_t size);
inline std::filesystem::path PutFile(std::string_view name, std::string_view data) {
  return PutFile(name, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}
// Empties the scratch folder, so that no run sees what the last one left.
void ClearScratch();

// Answers every question with `answer` (Yes unless told otherwise; Cancel or
// OK where Yes is not offered) and keeps only a count of what was shown.
class QuietUi final : public Ui {
 public:
  int answer = kIdYes;
  int shown = 0;

  void ShowGeneralMessage(std::string_view, std::string_view, std::string_view) override { ++shown; }
  void CloseGeneralMessage() override {}
  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest&) override { return std::nullopt; }
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest&) override { return std::nullopt; }

 protected:
  int DoMessage(MessageRequest& req) override;
};

// One Env for one run: install folder and settings file in the scratch
// folder.
struct FuzzEnv {
  FuzzEnv();
  VirtualClock clock;
  QuietUi ui;
  ProfileFile profile;
  Dictionary dict;
  Env env;
};

// Reads the input front to back: small numbers and slices, zeros once it is
// used up.
class InputCursor {
 public:
  InputCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  // The next n bytes (fewer at the end).
  std::string_view Take(size_t n);
  // Whatever is left.
  std::string_view Rest() { return Take(size_ - pos_); }
  size_t Left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace kestro::fuzz
