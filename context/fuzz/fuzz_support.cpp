#include "context/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/fileutil.h"

namespace kestro::fuzz {

namespace fs = std::filesystem;

namespace {

fs::path MakeScratch() {
  std::error_code ec;
  // run-fuzz names a folder of its own, which it removes also after a crash.
  const char* given = std::getenv("KESTRO_FUZZ_SCRATCH");
  fs::path base = given && *given                                                      ? fs::path(given)
                  : fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                        : fs::temp_directory_path();
  std::string tmpl = (base / "kestro-fuzz-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  return buf.data();
}

struct Scratch {
  fs::path path = MakeScratch();
  pid_t owner = getpid();
  ~Scratch() {
    // A forked child (a reader that starts a program) leaves it to us.
    if (getpid() != owner) return;
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

}  // namespace

const fs::path& ScratchDir() {
  static Scratch scratch;
  return scratch.path;
}

fs::path PutFile(std::string_view name, const uint8_t* data, size_t size) {
  fs::path p = ScratchDir() / std::string(name);
  WriteBinaryFile(p, data, size);
  return p;
}

void ClearScratch() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(ScratchDir(), ec)) fs::remove_all(e.path(), ec);
}

int QuietUi::DoMessage(MessageRequest& req) {
  ++shown;
  if (!IsQuestion(req.style)) return kIdOk;
  if (answer == kIdYes && ButtonsForStyle(req.style) == Buttons::OkCancel) return kIdOk;
  return answer;
}

FuzzEnv::FuzzEnv()
    : profile(ScratchDir() / "Zumbla.INI"), env{ui, clock, profile, dict, ScratchDir()} {}

std::string_view InputCursor::Take(size_t n) {
  n = std::min(n, size_ - pos_);
  std::string_view s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return s;
}

}  // namespace kestro::fuzz
