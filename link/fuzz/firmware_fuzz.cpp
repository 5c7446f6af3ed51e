// A firmware file from anywhere: the header check, the version line, and the
// whole programming of its S-record lines into the simulated player (in
// process, on a virtual clock). The update goes through only when every line
// after the header is a record of at most 79 characters; the check accepts
// the file only when line 2 states its byte count and sum.
#include <cstdlib>
#include <string>
#include <string_view>

#include "context/fuzz/fuzz_support.h"
#include "link/firmware.h"
#include "sim/sim_rig.h"

using namespace kestro;

namespace {

class NoStarter final : public ProcessStarter {
 public:
  bool Start(const std::filesystem::path&, const std::vector<std::string>&) override { return false; }
};

// The file's lines split at LF, a CR before it dropped.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r' && lf != std::string_view::npos) line.remove_suffix(1);
    lines.push_back(line);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
  }
  return lines;
}

// The bytes after line 2, which ends at its CR or LF (a CR LF together).
uint64_t SumAfterLine2(std::string_view text, uint64_t* count) {
  *count = 0;
  size_t at = text.find('\n');
  if (at == std::string_view::npos) return 0;
  at = text.find_first_of("\r\n", at + 1);
  if (at == std::string_view::npos) return 0;
  at += text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
  uint64_t sum = 0;
  for (unsigned char c : text.substr(at)) {
    sum += c;
    ++*count;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto path = fuzz::PutFile("ZUMBLA2.MHX", data, size);

  FirmwareFileCheck check = InspectFirmwareFile(path);
  if (!check.opened || CheckFirmwareFile(path) != (check.valid ? 1 : 0)) std::abort();
  if (check.version.size() > kMaxVersionLine) std::abort();
  if (check.valid) {
    uint64_t count = 0;
    uint64_t sum = SumAfterLine2(text, &count);
    if (check.count != count || check.sum != sum || check.headerCount != count || check.headerSum != sum)
      std::abort();
  }
  const std::string version = ReadFirmwareVersion(path);
  if (version.size() > kMaxVersionLine) std::abort();

  sim::SimConfig cfg;
  sim::SimRig rig(cfg);
  BasicFirmwareCycleSide cycle;
  NoStarter starter;
  Firmware fw(rig.link, cycle, starter);
  int programmed = fw.ProgramFirmware(path);
  if (programmed == 1) {
    auto lines = Lines(text);
    for (size_t i = 2; i < lines.size(); ++i) {
      if (lines[i].empty() || lines[i][0] != 'S' || lines[i].size() > kMaxRecordLine) std::abort();
    }
  }
  return 0;
}
