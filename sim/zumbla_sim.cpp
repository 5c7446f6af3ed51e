// zumbla-sim: a simulated Zumbla player on a Unix socket, for trying Kestro
// without the device. Point Zumbla.INI at it with [Link] Simulator=SOCKET.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_player.h"
#include "sim/sim_server.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

const char* kUsage =
    "Usage: zumbla-sim --dir DIR [--socket PATH] [--card-mb N | --card IMAGE]\n"
    "                  [--mode ram|card|busy|boot] [--release TEXT] [--as ftdi|bulk]\n"
    "                  [--ram-kb N] [--wire-log FILE] [--open-sectors] [FAULTS...]\n"
    "\n"
    "A simulated Zumbla player listening on a Unix socket (default DIR/zumbla.sock).\n"
    "DIR keeps the player's state across runs: card.img (the card, unless --card\n"
    "names another image), ram/ (internal memory), setup.dat, flash.bin.\n"
    "\n"
    "  --card-mb N      size of a new card image (default 32); an existing one is kept\n"
    "  --card IMAGE     use this image of raw 512-byte sectors (mkfs.fat images work)\n"
    "  --mode M         what the player reports: ram (0), card (1), busy (2), boot (3)\n"
    "  --release TEXT   firmware release (default 1.12; below 1.12 holds 40 songs)\n"
    "  --as T           the transport it plays: ftdi (default) or bulk\n"
    "  --ram-kb N       internal memory in KiB (default 1024)\n"
    "  --wire-log FILE  append every byte both ways to FILE (H> host, P< player)\n"
    "  --open-sectors   serve card sectors without the card-access handshake\n"
    "\n"
    "Faults (also as lines of a file DIR/faults, read when a connection first speaks):\n"
    "  --soft-ack            answer 66 instead of 06\n"
    "  --busy-handshake K    answer BUSY (17) to the next K handshake steps (-1: always)\n"
    "  --stop-after N        stop answering after N more bytes\n"
    "  --drop-after N        hang up after N more bytes\n"
    "  --nak-writes K        answer NAK (15) to the next K sector writes\n"
    "  --corrupt-reads K     corrupt the sums of the next K sector reads\n"
    "  --corrupt-song-sums K corrupt the sums of the next K songs read from memory\n"
    "  --lose-replies K      lose the next K answers on the way to the host\n"
    "  --plain-ack-update    answer 06 instead of 66 to the enter-update command\n"
    "  --corrupt-read-rate P corrupt the sums of P per mille of the sector reads, at random\n"
    "  --nak-write-rate P    answer NAK to P per mille of the sector writes, at random\n"
    "  --seed N              the seed of those draws\n";

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "zumbla-sim: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseNumber(const std::string& s, long* out) {
  char* end = nullptr;
  *out = std::strtol(s.c_str(), &end, 10);
  return !s.empty() && end && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestro;
  using namespace kestro::sim;

  std::vector<std::string> args(argv + 1, argv + argc);
  SimConfig cfg;
  cfg.keepWireLog = false;
  std::string socketPath, faultText;
  long cardMb = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    long n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--dir") {
      if (!value(&v)) return Usage("--dir needs a folder");
      cfg.stateDir = v;
    } else if (a == "--socket") {
      if (!value(&socketPath)) return Usage("--socket needs a path");
    } else if (a == "--card-mb") {
      if (!value(&v) || !ParseNumber(v, &cardMb) || cardMb <= 0 || cardMb > 8191) return Usage("bad --card-mb");
    } else if (a == "--card") {
      if (!value(&v)) return Usage("--card needs an image");
      cfg.cardImage = v;
    } else if (a == "--mode") {
      auto m = value(&v) ? ParseMode(v) : std::nullopt;
      if (!m) return Usage("--mode is ram, card, busy or boot");
      cfg.mode = *m;
    } else if (a == "--release") {
      if (!value(&cfg.release) || cfg.release.size() > 15) return Usage("--release needs a text of up to 15 characters");
    } else if (a == "--as") {
      if (!value(&v) || (v != "ftdi" && v != "bulk")) return Usage("--as is ftdi or bulk");
      cfg.as = v == "ftdi" ? Transport::Ftdi : Transport::Bulk;
    } else if (a == "--ram-kb") {
      if (!value(&v) || !ParseNumber(v, &n) || n <= 0 || n > 16384) return Usage("bad --ram-kb");
      cfg.ramBytes = static_cast<uint32_t>(n) * 1024;
    } else if (a == "--wire-log") {
      if (!value(&v)) return Usage("--wire-log needs a file");
      cfg.wireLogPath = v;
    } else if (a == "--open-sectors") {
      cfg.requireCardAccess = false;
    } else if (a == "--soft-ack") {
      faultText += "soft-ack 1\n";
    } else if (a == "--plain-ack-update") {
      faultText += "plain-ack-update 1\n";
    } else if (a == "--busy-handshake" || a == "--stop-after" || a == "--drop-after" || a == "--nak-writes" ||
               a == "--corrupt-reads" || a == "--corrupt-song-sums" || a == "--lose-replies" ||
               a == "--corrupt-read-rate" || a == "--nak-write-rate" || a == "--seed") {
      if (!value(&v) || !ParseNumber(v, &n)) return Usage(a + " needs a number");
      faultText += a.substr(2) + " " + v + "\n";
    } else {
      return Usage("unknown argument " + a);
    }
  }
  if (cfg.stateDir.empty()) return Usage("--dir is required");
  if (socketPath.empty()) socketPath = (cfg.stateDir / "zumbla.sock").string();
  if (!cfg.cardImage.empty() && cardMb > 0) {
    // --card with --card-mb: the size of the image if it must be made.
    cfg.cardBytes = static_cast<uint64_t>(cardMb) << 20;
  } else if (cfg.cardImage.empty()) {
    cfg.cardBytes = static_cast<uint64_t>(cardMb > 0 ? cardMb : 32) << 20;
  }

  try {
    SimPlayer player(cfg);
    std::string err;
    if (!faultText.empty() && !player.faults.Parse(faultText, &err)) return Usage(err);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    CardImage* card = player.Card();
    std::printf("zumbla-sim: %s as %s, mode %s, release %s, card %s (%u sectors)\n", socketPath.c_str(),
                TransportName(cfg.as), ModeName(cfg.mode), cfg.release.c_str(),
                card ? card->Path().c_str() : "none", card ? card->SectorCount() : 0u);
    std::fflush(stdout);
    if (!ServeSocket(player, socketPath, &g_stop, &err)) {
      std::fprintf(stderr, "zumbla-sim: %s\n", err.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zumbla-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
