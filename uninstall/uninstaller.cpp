#include "uninstall/uninstaller.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <system_error>

#include "context/env.h"
#include "context/install_folder.h"
#include "context/settings_keys.h"
#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/latin1.h"
#include "platform/paths.h"
#include "uninstall/removal_script.h"

namespace kestro::uninstall {

namespace fs = std::filesystem;

namespace {

// The install folder's files in the order the script names them: the
// firmware files, the card report and the copies of the card's index files,
// then (after the settings file) the templates and setup files, then all
// else that the first run or the operations put there.
constexpr const char* kFirstFiles[] = {"ZUMBLA.MHX",  "ZUMBLA2.MHX", "FormatFresh.html", "MALPHA0.DAT",
                                       "MALPHA2.DAT", "MINDEX0.DAT", "MINDEX2.DAT",      "MINDEX4.DAT"};
constexpr const char* kSecondFiles[] = {"MBRPBR.DAT", "MSETUP.DAT", "SETUPDEF.DAT"};

constexpr const char* kRemovedMessage = "Il programma  'Kestro'  \xE8 stato disinstallato dal computer.";

bool IsSongFile(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  return ext == ".MF4" || ext == ".MP3";
}

}  // namespace

bool FromSystemPackage(const fs::path& programDir) {
  std::error_code ec;
  fs::path dir = fs::weakly_canonical(programDir, ec);
  return !ec && dir == "/usr/bin";
}

std::string ReadInstallFolder(const ProfileFile& settings) {
  return settings.GetString(settings::kInstallPath.section, settings::kInstallPath.name, "??",
                            static_cast<size_t>(settings::kInstallPath.size));
}

std::optional<fs::path> UsableInstallFolder(const std::string& value) {
  fs::path p(value);
  if (!p.is_absolute()) return std::nullopt;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return fs::path(s);
}

void LoadUninstallDictionary(Dictionary& dict, const std::string& installFolder, ProfileFile& settings,
                             const fs::path& shippedDataDir, Ui& ui) {
  auto install = UsableInstallFolder(installFolder);
  const bool inInstall = install && FileExists(*install / kDictionaryName);
  if (inInstall && dict.Load(*install, settings, ui)) return;
  auto file = ReadBinaryFile(shippedDataDir / kDictionaryName);
  auto plain = file ? DecodeDictionary(*file) : std::nullopt;
  if (plain) {
    dict.LoadFromText(*plain,
                      settings.GetString(settings::kCurrLanguage.section, settings::kCurrLanguage.name,
                                         settings::kCurrLanguage.textDefault, 63),
                      ui);
    return;
  }
  if (!inInstall) ui.SystemMessage("Cannot open DICT.DIC", "ZumblaPC Error", mb::kIconStop);
}

Uninstaller::Uninstaller(Ui& ui, Clock& clock, ProfileFile& settings, const Dictionary& dict, ProcessStarter& starter,
                         Places places)
    : ui_(ui),
      clock_(clock),
      settings_(settings),
      dict_(dict),
      starter_(starter),
      places_(std::move(places)),
      installFolder_(ReadInstallFolder(settings)) {}

bool Uninstaller::ShutdownHandshake() {
  const auto& agent = settings::kAgentShutdown;
  const auto& kestro = settings::kKestroShutDownAsk;
  WriteProfileInt(settings_, agent.section, agent.name, 1);
  WriteProfileInt(settings_, kestro.section, kestro.name, 1);
  bool answered = false;
  for (int i = 0; i < kPolls && !answered; ++i) {
    clock_.SleepMs(kPollMs);
    answered = settings_.GetInt(agent.section, agent.name, agent.intDefault) == 0 &&
               settings_.GetInt(kestro.section, kestro.name, kestro.intDefault) == 0;
  }
  WriteProfileInt(settings_, agent.section, agent.name, 0);
  WriteProfileInt(settings_, kestro.section, kestro.name, 0);
  return answered;
}

std::vector<fs::path> Uninstaller::SongsInInstallFolder() const {
  std::vector<fs::path> songs;
  auto install = UsableInstallFolder(installFolder_);
  if (!install) return songs;
  std::string value = settings_.GetString(settings::kOldMf4.section, settings::kOldMf4.name, "", 256);
  fs::path folder = value.empty() ? *install : fs::path(value);
  if (!folder.is_absolute() || !IsWithin(folder, *install)) return songs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    std::error_code ec2;
    if (IsSongFile(e.path()) && e.is_regular_file(ec2)) songs.push_back(e.path());
  }
  std::sort(songs.begin(), songs.end());
  return songs;
}

std::vector<std::string> Uninstaller::ScriptLines(bool songs) const {
  std::vector<std::string> lines;
  auto add = [&](char letter, const std::string& argument) {
    std::string line = FormatLine(letter, argument);
    // The sweeper passes over what it could not read back as written.
    if (IsCleanLine(std::string_view(line).substr(0, line.size() - 1))) lines.push_back(line);
  };
  auto install = UsableInstallFolder(installFolder_);
  const fs::path& settingsDir = places_.settingsDir;
  std::set<std::string> named;
  auto deleteInInstall = [&](const char* name) {
    if (!install || !named.insert(name).second) return;
    add('d', (*install / name).string());
  };

  add('s', "3000");
  for (const char* name : kFirstFiles) deleteInInstall(name);
  add('d', (settingsDir / kProfileName).string());
  add('d', (settingsDir / (std::string(kProfileName) + ".lock")).string());
  for (const char* name : kSecondFiles) deleteInInstall(name);
  for (const char* name : kLaidOutFiles) deleteInInstall(name);
  for (const char* name : kMadeFiles) deleteInInstall(name);
  if (install) {
    std::vector<fs::path> folders;
    if (songs) {
      for (const auto& song : SongsInInstallFolder()) add('d', song.string());
    }
    // Song folders made inside the install folder go when empty (the PC song
    // folder only with its songs).
    for (const auto* key : {&settings::kOldMf4, &settings::kNewMf4, &settings::kDownloadMf4}) {
      if (key == &settings::kOldMf4 && !songs) continue;
      fs::path f(settings_.GetString(key->section, key->name, "", 256));
      if (f.is_absolute() && IsWithin(f, *install) && !IsWithin(*install, f)) folders.push_back(f.lexically_normal());
    }
    // Deeper folders first.
    std::sort(folders.begin(), folders.end(),
              [](const fs::path& a, const fs::path& b) { return a.string().size() > b.string().size(); });
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const auto& f : folders) add('r', f.string());
    add('r', (*install / "Download").string());
    add('r', install->string());
  }
  add('a', kRemovedMessage);
  return lines;
}

void Uninstaller::RemoveShortcuts() {
  for (const auto& s : kShortcuts) {
    std::vector<fs::path> entries;
    if (s.onDesktop && places_.folders.desktop) entries.push_back(*places_.folders.desktop / s.file);
    entries.push_back(places_.folders.applications / s.file);
    // Only what a first run made: an installation's own entries stay with it.
    for (const auto& e : entries) {
      if (IsFirstRunEntry(e)) RemoveFile(e);
    }
  }
}

void Uninstaller::Removal() {
  ShutdownHandshake();
  const std::string question = Fmt("Percorso per l'installazione \xE8:'%s'\nCancellare tutto ora?\n",
                                   Utf8ToLatin1(installFolder_));
  if (ui_.SystemMessage(question, "Setup", mb::kIconQuestion | mb::kOkCancel) == kIdOk) {
    bool songs = false;
    const auto found = SongsInInstallFolder();
    if (!found.empty()) {
      const std::string folder = found.front().parent_path().string();
      songs = ui_.SystemMessage(Fmt(dict_.GetText("MSG_UNINSTALL_SONGS"), Utf8ToLatin1(folder),
                                    static_cast<int>(found.size())),
                                "Setup", mb::kIconQuestion | mb::kYesNo | mb::kDefButton2) == kIdYes;
    }
    RemoveShortcuts();
    std::string script;
    for (const auto& line : ScriptLines(songs)) script += line;
    // When the script cannot be written the sweeper finds none and deletes
    // nothing.
    WriteTextFile(places_.settingsDir / kScriptName, script);
  }
  starter_.Start(places_.sweeper, {});
}

void Uninstaller::AfterDialog(int result) {
  clock_.SleepMs(kAfterDialogMs);
  if (result == 0) return;
  // Nothing here ever needs a restart; a system package is removed by the
  // package manager.
  std::string text = dict_.GetText("MSG_NO_RESTART_NEEDED");
  if (places_.systemWide) text += "\n" + Fmt(dict_.GetText("MSG_UNINSTALL_PACKAGE"), kPackageRemoval);
  ui_.SystemMessage(text, dict_.GetText("MSG_CAPTION_INFO"), mb::kIconInformation);
}

}  // namespace kestro::uninstall
