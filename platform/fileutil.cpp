#include "platform/fileutil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

namespace {
// The whole file in one read where its size is known.
template <typename Container>
std::optional<Container> ReadWhole(const fs::path& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  Container out;
  char buf[65536];
  while (true) {
    size_t n = std::fread(buf, 1, sizeof buf, f);
    out.insert(out.end(), buf, buf + n);
    if (n < sizeof buf) break;
  }
  bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) return std::nullopt;
  return out;
}
}  // namespace

std::optional<std::string> ReadTextFile(const fs::path& path) { return ReadWhole<std::string>(path); }

std::optional<Bytes> ReadBinaryFile(const fs::path& path) { return ReadWhole<Bytes>(path); }

bool WriteBinaryFile(const fs::path& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

bool WriteTextFile(const fs::path& path, std::string_view text) {
  return WriteBinaryFile(path, text.data(), text.size());
}

namespace {

// Writes `data` into a temporary file beside `path`, flushed to disk, and
// renames it over `path`; the temporary file goes on failure.
bool WriteThroughTemporary(const fs::path& path, std::string_view data) {
  fs::path dir = path.parent_path();
  std::string tmpl = (dir.empty() ? fs::path(".") : dir).string() + "/." + path.filename().string() + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  // Keep the permissions of the file we replace.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    (void)fchmod(fd, st.st_mode & 07777);
  } else {
    (void)fchmod(fd, 0644);
  }
  const char* p = data.data();
  size_t left = data.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(name.data(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(name.data());
  return ok;
}

}  // namespace

bool WriteFileAtomic(const fs::path& path, std::string_view data) {
  std::error_code ec;
  if (!path.parent_path().empty()) fs::create_directories(path.parent_path(), ec);
  return WriteThroughTemporary(path, data);
}

CopyResult CopyFileAtomic(const fs::path& from, const fs::path& to) {
  auto data = ReadTextFile(from);
  if (!data) return CopyResult::ReadFailed;
  return WriteThroughTemporary(to, *data) ? CopyResult::Done : CopyResult::WriteFailed;
}

bool FileExists(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::optional<uint64_t> FileSize(const fs::path& path) {
  std::error_code ec;
  auto n = fs::file_size(path, ec);
  if (ec) return std::nullopt;
  return n;
}

bool RemoveFile(const fs::path& path) {
  std::error_code ec;
  return fs::remove(path, ec);
}

bool CopyFileOver(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

FileLock::FileLock(const fs::path& lockPath) {
  std::error_code ec;
  if (!lockPath.parent_path().empty()) fs::create_directories(lockPath.parent_path(), ec);
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ >= 0) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
}

}  // namespace kestro
