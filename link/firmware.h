// Replacing the player's firmware from a firmware file (.MHX).
//
// The file: line 1 a version text (at most 255 characters), line 2 the byte
// count and the byte sum of everything after line 2's line end, both decimal
// with one non-digit character between them, anything after the sum left
// aside (at most 80 characters), then
// Motorola S-record lines (at most 79 characters each), lines ending CR LF.
//
// The player's side: two wake-up bytes and the enter-update command, which
// must be answered 66; the confirmation; then, in update mode, control bytes
// 1B and text lines ending in CR, each answered by one echo byte: "ES nn"
// erases flash area nn, "HEXDWL" starts the download of the S-records, and
// "RST" restarts the player.
//
// The file comes from the maker's web server (harvo downloads it while the
// update waits a fixed time) or from the user's choice; which file applies is
// decided by the transport: the FTDI player takes ZUMBLA2.MHX, the bulk
// player ZUMBLA.MHX. The programmed copy lives in the install folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/link.h"
#include "platform/process.h"

namespace kestro {

// The firmware file of a player model and its place on the web server.
struct FirmwareNames {
  std::string file;    // "ZUMBLA2.MHX" / "ZUMBLA.MHX", in the install folder
  std::string remote;  // "DOWNLOAD/ZUMBLA2.MHX" / "DOWNLOAD/ZUMBLA.MHX"
};
FirmwareNames FirmwareNamesFor(Transport t);
// The copy of the previous file while a download replaces it.
inline constexpr const char* kFirmwareBackupName = "ZUMBLA.tmp";

// Limits of the file's lines, line ends not counted.
inline constexpr size_t kMaxVersionLine = 255;
inline constexpr size_t kMaxHeaderLine = 80;
inline constexpr size_t kMaxRecordLine = 79;

// What the header check found.
struct FirmwareFileCheck {
  bool opened = false;  // false: the file could not be opened, which the check lets pass
  bool valid = false;
  std::string version;  // line 1 without its line end
  uint64_t headerCount = 0, headerSum = 0;  // as line 2 states them
  uint64_t count = 0, sum = 0;              // as the file has them
  std::string problem;  // why it is not valid, for the command line
};
FirmwareFileCheck InspectFirmwareFile(const std::filesystem::path& path);
// 1 when the byte count and sum of line 2 match the rest of the file, and
// also when the file cannot be opened (programming it fails later); else 0.
int CheckFirmwareFile(const std::filesystem::path& path);
// Line 1 without its line end; empty when the file cannot be read.
std::string ReadFirmwareVersion(const std::filesystem::path& path);

// What the update changes in the connection cycle, which implements it over
// its own state.
class FirmwareCycleSide {
 public:
  virtual ~FirmwareCycleSide() = default;
  // The player restarts (or was left half updated): the cycle starts from
  // scratch. `current medium` and `new reading` -1, `link streak` and
  // `player info valid` 0.
  virtual void ForgetPlayer() = 0;
  // Redraw both song lists.
  virtual void RefreshLists() = 0;
};

// Those values as plain fields, for the command-line tool and for tests.
class BasicFirmwareCycleSide final : public FirmwareCycleSide {
 public:
  int currentMedium = -1;
  int newReading = -1;
  int linkStreak = 0;
  int playerInfoValid = 0;
  int forgotten = 0;  // calls of ForgetPlayer
  int refreshes = 0;  // calls of RefreshLists

  void ForgetPlayer() override {
    currentMedium = -1;
    newReading = -1;
    linkStreak = 0;
    playerInfoValid = 0;
    ++forgotten;
  }
  void RefreshLists() override { ++refreshes; }
};

enum class FirmwareUpdateResult {
  NoChoice,    // no download, and the user said No to choosing a file
  NoFile,      // no file chosen, or one of the wrong name ("MSG_ZUMNET_MHX_NOT_FOUND")
  CopyFailed,  // the chosen file could not be copied into the install folder
  NotValid,    // the header check refused the file ("MSG_ZUMNET_MHX_NOT_VALID")
  Declined,    // the user said No to the version
  Failed,      // the player was not (fully) programmed
  Programmed,
};

class Firmware {
 public:
  // The fixed download wait: this many progress steps of kDownloadStepMs.
  static constexpr int kDownloadSteps = 250;
  static constexpr uint32_t kDownloadStepMs = 30;
  static constexpr uint32_t kReplyTimeoutMs = 5000;
  static constexpr int kEraseSteps = 6;
  static constexpr uint64_t kBytesPerStep = 2200;
  static constexpr int kLinesPerStep = 50;

  // `cycle` and `starter` outlive the object.
  Firmware(Link& link, FirmwareCycleSide& cycle, ProcessStarter& starter);

  // The maker's web server, handed to harvo.
  std::string serverHost;
  // The downloader: `harvo` beside the running program.
  std::filesystem::path harvoProgram;
  // Passed to harvo as the owner of its error reports.
  long ownerWindow = 0;

  // The whole command: the file (downloaded, chosen, or `givenFile` as if
  // the user had chosen it), its check, the version question, the
  // programming and the aftermath that hands the cycle a lost link.
  FirmwareUpdateResult UpdateFirmware(const std::optional<std::filesystem::path>& givenFile = std::nullopt);
  // Programs the install folder's firmware file of the current transport; 1
  // on success.
  int ProgramFirmware();
  int ProgramFirmware(const std::filesystem::path& file);
  // The erase sequence: area 2, then 0, 1, 2, 5 and 6; 1 on success.
  int EraseFirmware();
  // Sends text + CR and reads the echo; 1 when the line went and its echo
  // came back (whatever its value).
  int SendFirmwareLine(std::string_view text);

  FirmwareNames Names() const { return FirmwareNamesFor(link_.transport); }
  std::filesystem::path TargetPath() const;

 private:
  // 1B and its echo; 1 when the byte went and its echo came back.
  int SendControlByte();
  int SendCommand(uint8_t cls, uint8_t fn);
  std::optional<uint8_t> ReceiveReply();
  // Fetches the file with harvo; true when a usable file arrived. Otherwise
  // the previous file is back in place.
  bool Download();
  // Asks for a file of the right name; the path, or nothing.
  std::optional<std::filesystem::path> ChooseFile(FirmwareUpdateResult* why);
  void Aftermath();

  Link& link_;
  Env& env_;
  FirmwareCycleSide& cycle_;
  ProcessStarter& starter_;
};

}  // namespace kestro
