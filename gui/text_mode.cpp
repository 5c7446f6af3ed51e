#include "gui/text_mode.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "library/lists.h"
#include "platform/charmap.h"
#include "platform/latin1.h"
#include "shell/app.h"

namespace kestro::gui {

namespace {

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Cut or padded to `width` characters (UTF-8 aware).
std::string Column(const std::string& utf8, size_t width) {
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size() && chars < width;) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    out.append(utf8, i, len);
    i += len;
    ++chars;
  }
  out.append(width - chars, ' ');
  return out;
}

std::string Shown(const std::string& playerText) { return Latin1ToUtf8(PlayerTextToLatin1(playerText)); }

std::string MediumTitle(int medium) {
  switch (medium) {
    case 0: return "Card in a card reader";
    case 1: return "Zumbla, card";
    case 2: return "Zumbla, internal memory";
    default: return "Zumbla not connected";
  }
}

}  // namespace

bool HasDisplay() {
  std::string platform = GetEnv("QT_QPA_PLATFORM");
  std::string name = platform.substr(0, platform.find(':'));
  if (name.empty()) return !GetEnv("DISPLAY").empty() || !GetEnv("WAYLAND_DISPLAY").empty();
  if (name == "xcb") return !GetEnv("DISPLAY").empty();
  if (name.rfind("wayland", 0) == 0) return !GetEnv("WAYLAND_DISPLAY").empty();
  // offscreen, minimal, vnc, eglfs, linuxfb: Qt draws without a desktop.
  return true;
}

void PrintWhatTheWindowShows(Env& env, std::FILE* out) {
  std::fprintf(out,
               "Kestro's window needs a desktop; without one, run it under xvfb-run or use the "
               "command-line tool (./kestro COMMAND, or kestro-cli --help).\n");
  FtdiLibrary ftdi;
  App app(env, ProgramChannels(env, ftdi));
  app.lib.ReloadPcList();
  int medium = app.SettleMedium();
  app.lib.RefreshLists(app.cycle.PlayerReady());

  constexpr size_t kTitle = 24, kAuthor = 16, kGap = 4;
  const library::SongList& pc = app.lib.pc;
  const library::SongList& player = app.lib.player;
  auto heading = [&](const std::string& text) { return Column(text, kTitle + 2 + kAuthor); };
  std::string left = "PC song folder (" + std::to_string(pc.size()) + " songs)";
  std::string right = MediumTitle(medium);
  if (medium >= 0) right += " (" + std::to_string(player.size()) + " songs)";
  std::fprintf(out, "\n%s%s%s\n", heading(left).c_str(), std::string(kGap, ' ').c_str(), right.c_str());
  std::fprintf(out, "%s%s%s\n", std::string(kTitle + 2 + kAuthor, '-').c_str(), std::string(kGap, ' ').c_str(),
               std::string(kTitle + 2 + kAuthor, '-').c_str());
  size_t rows = std::max(pc.size(), player.size());
  for (size_t i = 0; i < rows; ++i) {
    std::string l, r;
    if (i < pc.size()) l = Column(Shown(pc[i].title), kTitle) + "  " + Column(Shown(pc[i].author), kAuthor);
    else l = std::string(kTitle + 2 + kAuthor, ' ');
    if (i < player.size()) r = Column(Shown(player[i].title), kTitle) + "  " + Shown(player[i].author);
    std::string line = l + std::string(kGap, ' ') + r;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  }
  std::fflush(out);
}

}  // namespace kestro::gui
