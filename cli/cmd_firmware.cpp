// Commands for the player's firmware: check a firmware file, update the
// player.
#include <cstdio>
#include <memory>

#include "cli/cli.h"
#include "link/channels.h"
#include "link/firmware.h"
#include "link/ftdi.h"
#include "link/link.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/process.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

bool Readable(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && ReadBinaryFile(path).has_value();
}

int Check(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("firmware check FILE");
  if (!Readable(a[0])) return ctx.Fail("cannot read " + a[0]);
  FirmwareFileCheck r = InspectFirmwareFile(a[0]);
  if (!r.opened) return ctx.Fail("cannot read " + a[0]);
  if (r.valid) {
    std::printf("valid\nversion: %s\nbytes: %llu, sum %llu\n", Latin1ToUtf8(r.version).c_str(),
                static_cast<unsigned long long>(r.count), static_cast<unsigned long long>(r.sum));
    return kOk;
  }
  std::printf("not valid: %s\n", r.problem.c_str());
  if (!r.version.empty()) std::printf("version: %s\n", Latin1ToUtf8(r.version).c_str());
  if (r.headerCount || r.headerSum) {
    std::printf("line 2 says %llu bytes, sum %llu; the file has %llu bytes, sum %llu\n",
                static_cast<unsigned long long>(r.headerCount), static_cast<unsigned long long>(r.headerSum),
                static_cast<unsigned long long>(r.count), static_cast<unsigned long long>(r.sum));
  }
  return kFailed;
}

int Update(Context& ctx, std::vector<std::string>& a) {
  if (a.size() > 1) return Usage("firmware update [FILE]");
  std::optional<fs::path> file;
  if (a.size() == 1) {
    if (!Readable(a[0])) return ctx.Fail("cannot read " + a[0]);
    std::error_code ec;
    file = fs::absolute(a[0], ec);
  }
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;

  FtdiLibrary ftdi;  // before the link: its FTDI channel refers to it
  if (env->GetText(settings::kSimulator).empty()) ftdi = LoadFtdiLibrary(env->ui);
  BasicCycleSide linkCycle;
  Link link(*env, MakeLinkChannels(*env, ftdi), linkCycle);
  // The transport that answers decides which firmware applies.
  if (!link.ChooseTransport()) return ctx.Fail("no player is connected");

  BasicFirmwareCycleSide cycle;
  DetachedStarter starter;
  Firmware fw(link, cycle, starter);
  const std::string name = fw.Names().file;
  switch (fw.UpdateFirmware(file)) {
    case FirmwareUpdateResult::Programmed:
      return kOk;
    case FirmwareUpdateResult::NoChoice:
    case FirmwareUpdateResult::NoFile:
      if (!file) {
        return ctx.Fail("no firmware file; give one on the command line: kestro-cli --yes firmware update " +
                        name + "\n(this player, over " + TransportName(link.transport) + ", takes " + name + ")");
      }
      return ctx.Fail("this player, over " + std::string(TransportName(link.transport)) + ", takes " + name +
                      "; the file's name must contain it");
    case FirmwareUpdateResult::NotValid:
      return ctx.Fail("the firmware file is not valid (kestro-cli firmware check tells why); nothing was sent");
    case FirmwareUpdateResult::Declined:
      return ctx.Fail("firmware not updated");
    case FirmwareUpdateResult::CopyFailed:
      return ctx.Fail("firmware not updated: the file could not be copied into the install folder");
    case FirmwareUpdateResult::Failed:
      break;
  }
  return ctx.Fail("the player was not updated: it did not take every step of the update; disconnect it, "
                  "connect it again and repeat the update");
}

}  // namespace

void RegisterFirmwareCommands(CommandTable& t) {
  t.push_back({{"firmware", "check"}, "FILE", "check a firmware file (.MHX): byte count and sum of its header",
               "Prints \"valid\" or \"not valid\" and why, and the version line (line 1).\n"
               "Exit status 0 only for a valid file.",
               Check});
  t.push_back(
      {{"firmware", "update"}, "[FILE]", "replace the player's firmware (asks first; --yes to agree)",
       "With FILE: program that file. Its name must contain the one the player takes:\n"
       "ZUMBLA2.MHX for a player on the FTDI bridge, ZUMBLA.MHX for the bulk player.\n"
       "It is copied into the install folder under that name, checked, and its\n"
       "version line is shown before anything is sent.\n\n"
       "Without FILE, as the menu command does: when [Settings] WebUpdate is on (the\n"
       "default), harvo downloads the file from the maker's web server into the\n"
       "install folder during a fixed wait of 7.5 s; when that brings no valid file\n"
       "(the previous one is kept), or WebUpdate is 0, you are asked to choose a file,\n"
       "which on the command line means giving it as FILE.\n\n"
       "Afterwards disconnect the player and connect it again.\n"
       "The player is reached over USB, or through a simulator when Zumbla.INI names\n"
       "its socket: [Link] Simulator=PATH.",
       Update});
}

}  // namespace kestro::cli
