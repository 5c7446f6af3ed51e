#include "link/firmware.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "link/player.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/paths.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

// A firmware file opened for reading; only regular files open (a folder of
// that name counts as a file that cannot be opened).
class FirmwareReader {
 public:
  explicit FirmwareReader(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return;
    }
    f_ = ::fdopen(fd, "rb");
    if (!f_) ::close(fd);
  }
  ~FirmwareReader() {
    if (f_) std::fclose(f_);
  }
  FirmwareReader(const FirmwareReader&) = delete;
  FirmwareReader& operator=(const FirmwareReader&) = delete;

  bool IsOpen() const { return f_ != nullptr; }
  int Get() { return std::getc(f_); }
  void Unget(int c) { std::ungetc(c, f_); }
  bool Failed() const { return std::ferror(f_) != 0; }
  std::FILE* file() { return f_; }

  // One line up to its LF (or the end of the file), without the LF and a CR
  // before it. Nothing at the end of the file. At most `max` characters are
  // kept; `tooLong` tells that the line had more (the rest is passed over).
  std::optional<std::string> Line(size_t max, bool* tooLong, bool* ended = nullptr) {
    std::string line;
    bool any = false, cut = false, lf = false;
    int c;
    while ((c = Get()) != EOF) {
      any = true;
      if (c == '\n') {
        lf = true;
        break;
      }
      // One more than the limit, for a CR that turns out to end the line.
      if (line.size() <= max) line += static_cast<char>(c);
      else cut = true;
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r' && !cut) line.pop_back();
    if (line.size() > max) cut = true;
    if (tooLong) *tooLong = cut;
    if (ended) *ended = lf;
    if (cut) line.resize(max);
    return line;
  }

 private:
  std::FILE* f_ = nullptr;
};

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A decimal number at `*pos`; at most 19 digits, so that it fits.
std::optional<uint64_t> Number(const std::string& s, size_t* pos) {
  size_t start = *pos;
  uint64_t v = 0;
  while (*pos < s.size() && IsDigit(static_cast<unsigned char>(s[*pos]))) {
    if (*pos - start >= 19) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(s[*pos] - '0');
    ++*pos;
  }
  if (*pos == start) return std::nullopt;
  return v;
}

// "count<one non-digit>sum": blanks are allowed around the numbers, and
// whatever follows the sum is no part of it (a maker's file may say more).
bool ParseHeader(const std::string& line, uint64_t* count, uint64_t* sum) {
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  auto c = Number(line, &i);
  if (!c || i >= line.size()) return false;
  ++i;  // the separator
  while (i < line.size() && IsBlank(line[i])) ++i;
  auto s = Number(line, &i);
  if (!s) return false;
  *count = *c;
  *sum = *s;
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Replaces `to` with a copy of `from` in one step: a failed copy leaves `to`
// as it was, and a program still writing to the old `to` writes into the
// file it opened, not into the copy.
bool CopyReplacing(const fs::path& from, const fs::path& to) {
  auto data = ReadBinaryFile(from);
  if (!data) return false;
  return WriteFileAtomic(to, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

}  // namespace

FirmwareNames FirmwareNamesFor(Transport t) {
  if (t == Transport::Ftdi) return {"ZUMBLA2.MHX", "DOWNLOAD/ZUMBLA2.MHX"};
  return {"ZUMBLA.MHX", "DOWNLOAD/ZUMBLA.MHX"};
}

// --- The file ---

FirmwareFileCheck InspectFirmwareFile(const fs::path& path) {
  FirmwareFileCheck r;
  FirmwareReader in(path);
  if (!in.IsOpen()) {
    // What cannot be opened passes: programming it fails with its own message.
    r.valid = true;
    r.problem = "cannot be opened";
    return r;
  }
  r.opened = true;
  auto refuse = [&](const char* why) {
    r.valid = false;
    r.problem = why;
    return r;
  };

  bool tooLong = false, ended = false;
  auto version = in.Line(kMaxVersionLine, &tooLong, &ended);
  if (!version || in.Failed()) return refuse("the file is empty");
  if (tooLong) return refuse("line 1 is longer than 255 characters");
  if (!ended) return refuse("there is no second line");
  r.version = version->substr(0, version->find('\0'));

  // Line 2 ends at its CR or LF; the LF after a CR belongs to it.
  std::string header;
  int c;
  while ((c = in.Get()) != EOF && c != '\r' && c != '\n') {
    if (header.size() >= kMaxHeaderLine) return refuse("line 2 is longer than 80 characters");
    header += static_cast<char>(c);
  }
  if (c == EOF) return refuse(in.Failed() ? "read error" : "line 2 has no line end");
  if (c == '\r') {
    int next = in.Get();
    if (next != '\n' && next != EOF) in.Unget(next);
  }
  if (!ParseHeader(header, &r.headerCount, &r.headerSum)) return refuse("line 2 does not hold a byte count and a sum");

  uint8_t buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in.file())) > 0) {
    r.count += n;
    for (size_t i = 0; i < n; ++i) r.sum += buf[i];
  }
  if (in.Failed()) return refuse("read error");
  if (r.count != r.headerCount) return refuse("the byte count does not match");
  if (r.sum != r.headerSum) return refuse("the byte sum does not match");
  // "0 0" and nothing else matches, but it would erase the player and give
  // it nothing in return.
  if (r.count == 0) return refuse("there is nothing after the header");
  r.valid = true;
  return r;
}

int CheckFirmwareFile(const fs::path& path) { return InspectFirmwareFile(path).valid ? 1 : 0; }

std::string ReadFirmwareVersion(const fs::path& path) {
  FirmwareReader in(path);
  if (!in.IsOpen()) return {};
  bool tooLong = false;
  auto line = in.Line(kMaxVersionLine, &tooLong);
  if (!line) return {};
  return line->substr(0, line->find('\0'));
}

// --- The player ---

Firmware::Firmware(Link& link, FirmwareCycleSide& cycle, ProcessStarter& starter)
    : serverHost(settings::kServerPath.textDefault),
      harvoProgram(ExecutableDir() / "harvo"),
      link_(link),
      env_(link.env()),
      cycle_(cycle),
      starter_(starter) {}

fs::path Firmware::TargetPath() const { return env_.InstallPath(Names().file); }

std::optional<uint8_t> Firmware::ReceiveReply() {
  uint8_t b = 0;
  if (!link_.LinkReceive(&b, 1, kReplyTimeoutMs)) return std::nullopt;
  return b;
}

int Firmware::SendCommand(uint8_t cls, uint8_t fn) {
  const uint8_t cmd[6] = {wire::kCommandHeader[0], wire::kCommandHeader[1], wire::kCommandHeader[2],
                          wire::kCommandHeader[3], cls, fn};
  return link_.LinkSend(cmd, sizeof cmd, wire::kDefaultTimeoutMs);
}

int Firmware::SendControlByte() {
  const uint8_t b = wire::kWake;
  if (!link_.LinkSend(&b, 1, kReplyTimeoutMs)) return 0;
  // What the echo says does not matter; that it comes does: a player that
  // does not echo did not take the byte.
  return ReceiveReply() ? 1 : 0;
}

int Firmware::SendFirmwareLine(std::string_view text) {
  std::string line(text);
  line += '\r';
  if (!link_.LinkSend(line.data(), line.size(), kReplyTimeoutMs)) return 0;
  // A line without its echo did not reach the flash: the update stops there
  // instead of waiting out every line that follows.
  return ReceiveReply() ? 1 : 0;
}

int Firmware::EraseFirmware() {
  if (!SendControlByte() || !SendControlByte()) return 0;
  // Area 2 first on its own, then the whole set; 3 and 4 are not touched.
  if (!SendFirmwareLine(Fmt("ES %02x", 2))) return 0;
  for (int area : {0, 1, 2, 5, 6}) {
    env_.ui.ProgressStep(1);
    if (!SendFirmwareLine(Fmt("ES %02x", area))) return 0;
    env_.clock.SleepMs(400);
  }
  return 1;
}

int Firmware::ProgramFirmware() { return ProgramFirmware(TargetPath()); }

int Firmware::ProgramFirmware(const fs::path& file) {
  Ui& ui = env_.ui;
  if (!link_.LinkOpen()) return 0;
  FirmwareReader in(file);
  if (!in.IsOpen()) {
    ui.ShowMessage(env_.T("MSG_PBL_MHX"), "", mb::kOk);
    link_.LinkClose();
    return 0;
  }
  const uint8_t wake = wire::kWake;
  link_.LinkSend(&wake, 1, wire::kDefaultTimeoutMs);
  link_.LinkSend(&wake, 1, wire::kDefaultTimeoutMs);
  SendCommand(wire::kEnterUpdate.cls, wire::kEnterUpdate.fn);
  // Only the soft acknowledgement lets the update go on.
  auto reply = ReceiveReply();
  if (!reply || *reply != wire::kSoftAck) {
    link_.LinkClose();
    return 0;
  }
  env_.clock.SleepMs(500);
  SendCommand(wire::kConfirmUpdate.cls, wire::kConfirmUpdate.fn);
  ReceiveReply();

  const std::string notUnplug = env_.T("MSG_NON_SCOLLEGARE_CAVO");
  ui.BeginWaitCursor();
  ui.ProgressStart(kEraseSteps);
  ui.ProgressLine1(env_.T("MSG_ERASE_FIRMWARE_ZUMNET"));
  ui.ProgressLine2(notUnplug);
  if (!EraseFirmware()) {
    link_.LinkClose();
    return 0;
  }
  ui.ProgressEnd();
  env_.clock.SleepMs(500);
  if (!SendControlByte() || !SendFirmwareLine("HEXDWL")) {
    link_.LinkClose();
    return 0;
  }

  const std::string updating = env_.T("MSG_UPDATE_FIRMWARE_ZUMNET");
  ui.ProgressStart(static_cast<int>(FileSize(file).value_or(0) / kBytesPerStep));
  ui.ProgressLine1(updating);
  ui.ProgressLine2(notUnplug);

  // Lines 1 and 2 are the header; the player gets only the S-records. A line
  // longer than a record can be is not one and goes no further either.
  bool tooLong = false;
  for (int skip = 0; skip < 2; ++skip) in.Line(kMaxVersionLine, &tooLong);
  int sent = 0;
  while (auto line = in.Line(kMaxRecordLine, &tooLong)) {
    if (tooLong || line->empty() || (*line)[0] != 'S' || !SendFirmwareLine(*line)) {
      link_.LinkClose();
      return 0;
    }
    if (++sent % kLinesPerStep == 0) {
      ui.ProgressLine1(updating);
      ui.ProgressLine2(notUnplug);
      ui.ProgressStep(1);
    }
    ui.Repaint();
    env_.clock.SleepMs(1);
  }

  ui.ProgressEnd();
  ui.EndCursor();
  // The end of the download and the restart must be taken too: a player
  // that went silent before them is not programmed.
  int ended = 1;
  for (int i = 0; i < 3 && ended; ++i) ended = SendControlByte();
  if (ended) ended = SendFirmwareLine("RST");
  link_.LinkClose();
  return ended;
}

// --- The command ---

bool Firmware::Download() {
  Ui& ui = env_.ui;
  const fs::path target = TargetPath();
  const fs::path backup = env_.InstallPath(kFirmwareBackupName);
  ui.ProgressStart(kDownloadSteps);
  ui.ProgressLine1(env_.T("MSG_DOWNLOADING_FIRMWARE"));
  ui.ProgressLine2("");

  // A backup left by an earlier run is not this file's.
  RemoveFile(backup);
  const bool hadFile = FileExists(target);
  // Without a backup the download would overwrite the only copy.
  const bool backedUp = !hadFile || CopyFileOver(target, backup);
  bool started = false;
  if (backedUp) {
    RemoveFile(target);
    std::error_code ec;
    fs::path full = fs::absolute(target, ec);
    if (ec) full = target;
    started = starter_.Start(harvoProgram,
                             {serverHost, Names().remote, full.string(), std::to_string(ownerWindow), "0"});
  }
  for (int i = 0; i < kDownloadSteps; ++i) {
    ui.ProgressStep(1);
    env_.clock.SleepMs(kDownloadStepMs);
    link_.PumpMessages();
  }
  ui.ProgressEnd();

  // Only a file that passes the check is a download. An error page, a cut
  // file or nothing at all gives the previous file back.
  FirmwareFileCheck check;
  if (started) check = InspectFirmwareFile(target);
  const bool usable = started && check.opened && check.valid;
  if (usable || !backedUp) {
    RemoveFile(backup);
    return usable;
  }
  if (!hadFile) {
    RemoveFile(target);
    return false;
  }
  // Should the copy back fail, the backup stays where the user can find it.
  if (CopyReplacing(backup, target)) RemoveFile(backup);
  return false;
}

std::optional<fs::path> Firmware::ChooseFile(FirmwareUpdateResult* why) {
  Ui& ui = env_.ui;
  *why = FirmwareUpdateResult::NoChoice;
  if (ui.ShowMessage(env_.T("MSG_DOWNLOAD_NOT_POSSIBLE"), env_.T("MSG_CAPTION_WARNING"),
                     mb::kYesNo | mb::kIconExclamation) != kIdYes)
    return std::nullopt;
  OpenFileRequest req;
  req.folder = env_.installDir.string();
  req.filterName = "Zumbla Firmware(*.MHX)";
  req.patterns = "*.MHX";
  req.title = env_.T("MSG_FIND_ZUMNET_MHX");
  req.initialName = Names().file;
  req.multiple = false;
  req.mustExist = true;
  auto r = ui.ChooseOpenFiles(req);
  *why = FirmwareUpdateResult::NoFile;
  if (!r || r->files.empty()) return std::nullopt;
  return fs::path(r->files.front());
}

void Firmware::Aftermath() {
  Ui& ui = env_.ui;
  ui.ShowMessage(env_.T("MSG_ZUMBLA_DISCONN_RECONN"), env_.T("MSG_CAPTION_INFO"), mb::kIconInformation);
  ui.BeginWaitCursor();
  env_.clock.SleepMs(1500);
  // The player restarts: whatever the cycle knew about it is gone.
  link_.linkErrorState = 1;
  cycle_.ForgetPlayer();
  ui.EndCursor();
  cycle_.RefreshLists();
}

FirmwareUpdateResult Firmware::UpdateFirmware(const std::optional<fs::path>& givenFile) {
  Ui& ui = env_.ui;
  ui.SetProgressTitle(env_.T("MSG_UPDATE_FIRMWARE_ZUMNET"));
  const FirmwareNames names = Names();
  const fs::path target = TargetPath();

  std::optional<fs::path> chosen = givenFile;
  const bool downloaded = !givenFile && env_.GetInt(settings::kWebUpdate) != 0 && Download();
  if (!givenFile && !downloaded) {
    FirmwareUpdateResult why;
    chosen = ChooseFile(&why);
    if (!chosen && why == FirmwareUpdateResult::NoChoice) return why;
  }
  if (!downloaded) {
    // The name tells the model: the other model's firmware must not get in.
    if (!chosen || Upper(chosen->filename().string()).find(names.file) == std::string::npos) {
      ui.ShowMessage(env_.T("MSG_ZUMNET_MHX_NOT_FOUND"), env_.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
      return FirmwareUpdateResult::NoFile;
    }
    // A copy that fails stops here: going on would check and program
    // whatever the install folder held before, not the chosen file.
    if (!SameFile(*chosen, target)) {
      auto data = ReadBinaryFile(*chosen);
      if (!data) {
        ReportReadError(env_, Utf8ToLatin1(chosen->string()));
        return FirmwareUpdateResult::CopyFailed;
      }
      if (!WriteFileAtomic(target, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()))) {
        ReportWriteError(env_, Utf8ToLatin1(target.string()));
        return FirmwareUpdateResult::CopyFailed;
      }
    }
  }

  if (!CheckFirmwareFile(target)) {
    ui.ShowMessage(env_.T("MSG_ZUMNET_MHX_NOT_VALID"), env_.T("MSG_CAPTION_ERROR"), mb::kIconStop);
    return FirmwareUpdateResult::NotValid;
  }
  const std::string version = ReadFirmwareVersion(target);
  env_.clock.SleepMs(100);
  if (ui.ShowMessage(env_.TF("MSG_ZUMNET_MHX_USE_THIS_VERSION", version), env_.T("MSG_CAPTION_WARNING"),
                     mb::kYesNo | mb::kIconExclamation) != kIdYes)
    return FirmwareUpdateResult::Declined;

  const int ok = ProgramFirmware(target);
  if (!ok) {
    env_.clock.SleepMs(500);
    ui.ProgressEnd();
    ui.EndCursor();
  }
  Aftermath();
  return ok ? FirmwareUpdateResult::Programmed : FirmwareUpdateResult::Failed;
}

}  // namespace kestro
