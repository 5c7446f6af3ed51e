// Commands on song packages (.MF4, .MF3): pack, unpack and show the header.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "convert/package.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::cli {

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

// Arguments from the terminal are UTF-8; the suite keeps Latin-1.
std::string FromTerminal(const std::string& s) { return IsValidUtf8(s) ? Utf8ToLatin1(s) : s; }

// A header text for the terminal; control characters (the player's codes
// for accented letters among them) shown as \xNN.
std::string Shown(const std::string& latin1) {
  std::string s;
  for (unsigned char c : latin1) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    } else {
      s += static_cast<char>(c);
    }
  }
  return Latin1ToUtf8(s);
}

int Pack(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "pack IN OUT [--name TITLE]";
  auto name = TakeOption(a, "--name");
  if (UnknownOption(a) || a.size() != 2) return Usage(synopsis);
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  PackageHeader header;
  int r = name ? pack_with_names(*env, header, a[0], a[1], FromTerminal(*name)) : pack(*env, header, a[0], a[1]);
  if (r != kPackDone) return kFailed;
  std::printf("%s: %u bytes packed into %u\n", a[1].c_str(), header.UnpackedSize(), header.PackageSize());
  return kOk;
}

int Unpack(Context& ctx, std::vector<std::string>& a) {
  if (UnknownOption(a) || a.size() != 2) return Usage("unpack IN OUT");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  PackageHeader header;
  if (unpack(*env, header, a[0], a[1]) != kPackDone) return kFailed;
  auto size = FileSize(a[1]);
  std::printf("%s: %llu bytes unpacked (%s)\n", a[1].c_str(), static_cast<unsigned long long>(size.value_or(0)),
              Shown(header.Magic()).c_str());
  return kOk;
}

int Header(Context& ctx, std::vector<std::string>& a) {
  if (UnknownOption(a) || a.size() != 1) return Usage("header FILE");
  auto file = ReadBinaryFile(a[0]);
  if (!file) return ctx.Fail("cannot read " + a[0]);
  if (file->size() < PackageHeader::kSize) return ctx.Fail(a[0] + " is not a song package: shorter than 512 bytes");
  PackageHeader h;
  std::copy(file->begin(), file->begin() + PackageHeader::kSize, h.bytes.begin());

  auto text = [](const char* label, const std::string& v) { std::printf("%-15s %s\n", label, Shown(v).c_str()); };
  auto number = [](const char* label, unsigned long v) { std::printf("%-15s %lu\n", label, v); };
  text("magic", h.Magic());
  number("package size", h.PackageSize());
  std::printf("%-15s 0x%08X\n", "word 8", h.Word8());
  number("unpacked size", h.UnpackedSize());
  number("byte 27", h.Byte27());
  number("byte 35", h.Byte35());
  number("word 36", h.Word36());
  number("tempo", h.Tempo());
  text("file name", h.FileName());
  text("rights notice", h.RightsNotice());
  text("title", h.Title());
  text("editor", h.Editor());
  number("markers flag", h.MarkersFlag());
  text("author", h.Author());
  text("performer", h.Performer());
  text("genre", h.Genre());
  std::printf("channel  program  bank  volume  pan  reverb  chorus   (255 = none)\n");
  for (int c = 0; c < PackageHeader::kChannels; ++c) {
    std::printf("%7d  %7u  %4u  %6u  %3u  %6u  %6u\n", c + 1, h.Program(c), h.Bank(c), h.Volume(c), h.Pan(c),
                h.Reverb(c), h.Chorus(c));
  }
  return kOk;
}

}  // namespace

void RegisterPackageCommands(CommandTable& t) {
  t.push_back({{"pack"}, "IN OUT [--name TITLE]", "pack a MIDI file into a song package (.MF4)",
               "Writes the initial song header and the compressed content of IN into OUT.\n"
               "With --name the header takes TITLE as title and the path of IN as file\n"
               "name, and \"-\" as editor, author, performer and genre.",
               Pack});
  t.push_back({{"unpack"}, "IN OUT", "write the content of a song package (.MF4, .MF3) into OUT", "", Unpack});
  t.push_back({{"header"}, "FILE", "print every field of the 512-byte header of a song package", "", Header});
}

}  // namespace kestro::cli
