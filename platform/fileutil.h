// Small file helpers shared by every subsystem.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

using Bytes = std::vector<uint8_t>;

// Whole-file reads; nothing when the file cannot be read.
std::optional<std::string> ReadTextFile(const std::filesystem::path& path);
std::optional<Bytes> ReadBinaryFile(const std::filesystem::path& path);

// Plain writes (create or truncate).
bool WriteBinaryFile(const std::filesystem::path& path, const void* data, size_t size);
inline bool WriteBinaryFile(const std::filesystem::path& path, const Bytes& data) {
  return WriteBinaryFile(path, data.data(), data.size());
}
bool WriteTextFile(const std::filesystem::path& path, std::string_view text);

// Writes through a temporary file in the same folder, flushed to disk, and a
// rename over the target. The folder is created when missing.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view data);

// Runs fn while holding an exclusive advisory lock on `lockPath`, so that two
// processes updating the same file do not lose each other's changes.
template <typename Fn>
auto WithFileLock(const std::filesystem::path& lockPath, Fn&& fn) -> decltype(fn());

bool FileExists(const std::filesystem::path& path);
std::optional<uint64_t> FileSize(const std::filesystem::path& path);
bool RemoveFile(const std::filesystem::path& path);  // true when it existed and went
bool CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to);
// A copy that is whole or not there: written beside `to` under a temporary
// name and renamed over it, so that a source that vanishes midway (a disk
// taken out) leaves `to` as it was. The folder of `to` must exist.
enum class CopyResult { Done, ReadFailed, WriteFailed };
CopyResult CopyFileAtomic(const std::filesystem::path& from, const std::filesystem::path& to);

// An exclusive lock held for the life of the object (flock on a lock file).
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& lockPath);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

template <typename Fn>
auto WithFileLock(const std::filesystem::path& lockPath, Fn&& fn) -> decltype(fn()) {
  FileLock lock(lockPath);
  return fn();
}

}  // namespace kestro
