// Commands of the foundation: dictionary files, texts, settings, language,
// install.
#include <cstdio>
#include <iterator>
#include <system_error>

#include "cli/cli.h"
#include "context/install_folder.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/paths.h"
#include "shell/language.h"

namespace kestro::cli {

namespace fs = std::filesystem;

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

int DictDecode(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("dict decode FILE");
  auto file = ReadBinaryFile(a[0]);
  auto plain = file ? DecodeDictionary(*file) : std::nullopt;
  if (!plain) {
    ctx.ui.SystemMessage("Error while opening DICT.DIC\nThe file may be corrupted\nReinstall ZumblaPC\n",
                         "ZumblaPC Error", mb::kIconStop);
    return kFailed;
  }
  std::string out = Latin1ToUtf8(*plain);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kOk;
}

int DictEncode(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 2) return Usage("dict encode IN OUT");
  auto text = ReadTextFile(a[0]);
  if (!text) return ctx.Fail("cannot read " + a[0]);
  // The source is edited as UTF-8; the dictionary holds Latin-1.
  std::string plain = IsValidUtf8(*text) ? Utf8ToLatin1(*text) : *text;
  if (!WriteBinaryFile(a[1], EncodeDictionary(plain))) return ctx.Fail("cannot write " + a[1]);
  return kOk;
}

int Text(Context& ctx, std::vector<std::string>& a) {
  if (a.empty() || a.size() > 2) return Usage("text KEY [N]");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  std::string t;
  if (a.size() == 2) {
    char* end = nullptr;
    long n = std::strtol(a[1].c_str(), &end, 10);
    if (!end || *end) return Usage("text KEY [N]");
    t = env->dict.GetNumberedText(a[0], static_cast<int>(n));
  } else {
    t = env->dict.GetText(a[0]);
  }
  std::printf("%s\n", Latin1ToUtf8(t).c_str());
  return kOk;
}

int IniGet(Context& ctx, std::vector<std::string>& a) {
  if (a.size() < 2 || a.size() > 3) return Usage("ini get SECTION KEY [DEFAULT]");
  std::string v = ctx.profile.GetString(a[0], a[1], a.size() == 3 ? a[2] : "", 4096);
  std::printf("%s\n", Latin1ToUtf8(v).c_str());
  return kOk;
}

int IniSet(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 3) return Usage("ini set SECTION KEY VALUE");
  if (!ctx.profile.WriteString(a[0], a[1], a[2])) return ctx.Fail("cannot write " + ctx.profile.Path().string());
  return kOk;
}

int Install(Context& ctx, std::vector<std::string>& a) {
  if (a.size() > 1) return Usage("install [DIR]");
  std::error_code ec;
  fs::path dir = fs::absolute(a.empty() ? DefaultInstallDir() : fs::path(a[0]), ec);
  std::string problem = LayOutInstallFolder(ShippedDataDir(), dir, ctx.profile);
  if (!problem.empty()) return ctx.Fail(problem);
  auto language = SetFirstRunLanguage(ctx.profile, MessagesLocale());
  if (!language) return ctx.Fail("cannot write " + ctx.profile.Path().string());
  std::printf("Installed %zu files into %s\nSettings: %s\nLanguage: %s\n", std::size(kLaidOutFiles), dir.c_str(),
              ctx.profile.Path().c_str(), Latin1ToUtf8(*language).c_str());
  return kOk;
}

int Language(Context& ctx, std::vector<std::string>& a) {
  if (a.size() > 1) return Usage("language [ITALIANO|ENGLISH]");
  if (a.empty()) {
    std::printf("%s\n", Latin1ToUtf8(CurrentLanguage(ctx.profile)).c_str());
    return kOk;
  }
  auto language = FindLanguage(a[0]);
  if (!language) {
    std::fprintf(stderr, "unknown language %s: ITALIANO or ENGLISH\n", a[0].c_str());
    return kUsage;
  }
  if (!SetLanguage(ctx.profile, *language)) return ctx.Fail("cannot write " + ctx.profile.Path().string());
  std::printf("%.*s\n", static_cast<int>(language->size()), language->data());
  return kOk;
}

}  // namespace

void RegisterBasicCommands(CommandTable& t) {
  t.push_back({{"install"}, "[DIR]", "lay out the install folder and record it in Zumbla.INI",
               "Copies the shipped data (DICT.DIC, templates, song database) into DIR\n"
               "(default: $ZUMBLA_HOME/Kestro, else ~/.local/share/kestro) and writes\n"
               "PATH/Installpath into Zumbla.INI of the settings folder. On a first\n"
               "install it also sets the language from the desktop's locale (see the\n"
               "command language). Every command that needs an installation does this\n"
               "by itself when there is none.",
               Install});
  t.push_back({{"language"}, "[ITALIANO|ENGLISH]", "show or set the language of Kestro's texts",
               "SETTINGS/CURRLANGUAGE of Zumbla.INI. The install step sets it from the\n"
               "desktop's locale (LC_ALL, LC_MESSAGES, LANG): ITALIANO for an Italian\n"
               "locale, ENGLISH for any other, and leaves a value already there alone.\n"
               "The next command speaks the new language; a running window needs a\n"
               "restart.",
               Language});
  t.push_back({{"dict", "decode"}, "FILE", "print the plain text of a DICT.DIC", "", DictDecode});
  t.push_back({{"dict", "encode"}, "IN OUT", "scramble a plain dictionary text into a DICT.DIC", "", DictEncode});
  t.push_back({{"text"}, "KEY [N]", "print a text of the dictionary in the current language",
               "With N prints the numbered text KEY_N.", Text});
  t.push_back({{"ini", "get"}, "SECTION KEY [DEFAULT]", "print a value of Zumbla.INI", "", IniGet});
  t.push_back({{"ini", "set"}, "SECTION KEY VALUE", "write a value into Zumbla.INI", "", IniSet});
}

}  // namespace kestro::cli
