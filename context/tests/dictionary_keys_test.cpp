// The shipped dictionary against the code: every key that the code looks up
// has a text in every language, and the texts take the arguments the code
// passes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "context/dictionary.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

const char* kLanguages[] = {"ITALIANO", "ENGLISH"};

struct Shipped {
  ProfileText ini;
  std::vector<std::string> keys;
};

Shipped LoadShipped() {
  auto file = ReadBinaryFile(testing::BuiltDataDir() / "DICT.DIC");
  EXPECT_TRUE(file.has_value());
  auto plain = file ? DecodeDictionary(*file) : std::nullopt;
  EXPECT_TRUE(plain.has_value());
  Shipped s{ProfileText(plain.value_or("")), {}};
  for (int i = 0;; ++i) {
    auto k = s.ini.Find("ENUMKEYS", "K" + std::to_string(i));
    if (!k || k->empty() || (*k)[0] == '-') break;
    s.keys.push_back(*k);
  }
  return s;
}

// Keys that the code names in string literals, and the bases of numbered
// families (looked up as BASE_n).
void ScanCode(std::set<std::string>* keys, std::set<std::string>* bases) {
  const std::regex keyRe("\"((MSG|ZUMBLA_REPROG|UNINSTALL_ID|IDC)_[A-Z0-9_]*[A-Z0-9])\"");
  const std::regex baseRe("GetNumberedText\\(\\s*\"([A-Z0-9_]+)\"");
  for (const char* top : {"platform", "context", "shell", "link", "cardfs", "library", "convert", "playback", "sim",
                          "harvo", "uninstall", "cli", "gui"}) {
    fs::path root = testing::SourceDir() / top;
    if (!fs::exists(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string p = e.path().string();
      if (!e.is_regular_file() || p.find("/tests/") != std::string::npos ||
          p.find("/testing/") != std::string::npos || p.find("/fuzz/") != std::string::npos)
        continue;
      if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
      std::ifstream in(e.path());
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      for (std::sregex_iterator it(text.begin(), text.end(), keyRe), end; it != end; ++it) keys->insert((*it)[1]);
      for (std::sregex_iterator it(text.begin(), text.end(), baseRe), end; it != end; ++it) bases->insert((*it)[1]);
    }
  }
}

TEST(ShippedDictionary, EveryListedKeyHasATextInEveryLanguage) {
  Shipped s = LoadShipped();
  ASSERT_FALSE(s.keys.empty());
  EXPECT_LE(s.keys.size(), 349u) << "the table holds 350 slots and warns when full";
  for (const auto& k : s.keys) {
    for (const char* lang : kLanguages) {
      auto t = s.ini.Find(lang, k);
      EXPECT_TRUE(t.has_value() && !t->empty()) << k << " has no text in " << lang;
    }
  }
}

TEST(ShippedDictionary, LanguagesAgreeOnFormatArguments) {
  Shipped s = LoadShipped();
  for (const auto& k : s.keys) {
    auto it = s.ini.Find("ITALIANO", k);
    auto en = s.ini.Find("ENGLISH", k);
    if (!it || !en) continue;
    EXPECT_EQ(FormatSignature(*it), FormatSignature(*en)) << k;
  }
}

TEST(ShippedDictionary, HoldsEveryKeyTheCodeLooksUp) {
  Shipped s = LoadShipped();
  std::set<std::string> listed(s.keys.begin(), s.keys.end());
  std::set<std::string> keys, bases;
  ScanCode(&keys, &bases);
  ASSERT_FALSE(keys.empty());
  for (const auto& k : keys) {
    if (bases.count(k)) continue;
    EXPECT_TRUE(listed.count(k)) << k << " is looked up by the code but missing from the dictionary";
  }
  for (const auto& b : bases) {
    EXPECT_TRUE(listed.count(b + "_0")) << "family " << b << " has no " << b << "_0";
  }
}

// Every key that the programs of the suite look up, whether or not the code
// that does so exists yet.
const char* const kRequiredKeys[] = {
    // Buttons, captions, common errors
    "MSG_OK", "MSG_CANCEL", "MSG_YES", "MSG_NO", "MSG_CAPTION_WARNING", "MSG_CAPTION_ERROR", "MSG_CAPTION_INFO",
    "MSG_ATTENZIONE", "MSG_ERROR", "MSG_CANTOPEN", "MSG_READERROR", "MSG_CANTCREATE", "MSG_WRITEERROR",
    "MSG_CANTDELETE", "MSG_ABORT", "MSG_ASK_ABORT",
    // Start-up, connection cycle, status lines
    "MSG_KESTRODL_ACTIVE", "MSG_FIRST_CONNECTION", "MSG_USB_TIMEOUT", "MSG_ZUMNET_BUSY", "ZUMBLA_REPROG",
    "ZUMBLA_REPROG_TITLE", "MSG_READING_FLASH", "MSG_MESSAGE_CF1", "MSG_MESSAGE_CF2", "MSG_MESSAGE_CF3",
    "MSG_MESSAGE_CF4", "MSG_MESSAGE_CF5", "MSG_MESSAGE_CF6", "MSG_MF3INFOLDER", "MSG_MF3INCARD",
    // Player memory commands
    "MSG_NO_OPENFILE", "MSG_NOTRANFERSONG", "MSG_PBL_READFILE", "MSG_SPAZIO_INSUF", "MSG_PBLCOMUNICATION",
    // Firmware update
    "MSG_UPDATE_FIRMWARE_ZUMNET", "MSG_DOWNLOADING_FIRMWARE", "MSG_DOWNLOAD_NOT_POSSIBLE", "MSG_FIND_ZUMNET_MHX",
    "MSG_ZUMNET_MHX_NOT_FOUND", "MSG_ZUMNET_MHX_NOT_VALID", "MSG_ZUMNET_MHX_USE_THIS_VERSION",
    "MSG_ERASE_FIRMWARE_ZUMNET", "MSG_NON_SCOLLEGARE_CAVO", "MSG_PBL_MHX", "MSG_ZUMBLA_DISCONN_RECONN",
    // Player options dialog
    "MSG_OPTIONS_CAPTION", "MSG_OPTIONS_GENERAL_CHORDMODE", "MSG_OPTIONS_VIDEO_COLORSETUP",
    "MSG_OPTIONS_VIDEO_TEXTSETUP", "MSG_OPTIONS_AUDIO_EQUALIZATION", "MSG_OPTIONS_VIDEO_TEXTALIGN",
    "MSG_OPTIONS_GENERAL_LANGUAGE", "MSG_OPTIONS_GENERAL_AUTOOFF", "MSG_OPTIONS_AUDIO_EFFECTVOL",
    "MSG_OPTIONS_AUDIO_EFFECTTYPE",
    // Card volume, files and format
    "MSG_READING_MAIN_DIRECTORY", "MSG_CF_INTERNAL_ERR", "MSG_ZUMBLA_CF_ERR", "MSG_FLAHFAT32FORMAT",
    "MSG_FORMAT_ERROR", "MSG_FLAHBADFORMAT", "MSG_INVALIDE_FORMAT", "MSG_FORMATFLASH_ERR",
    // Card structure and song lists
    "MSG_CARD_NO_OK_ZUMBLA", "MSG_LETTURA_FILE", "MSG_ATTENDERE", "MSG_VERIFY_INDEXES", "MSG_VERIFY_HASH_TABLE",
    // Transfers
    "MSG_PROGRESS_TITLE_SAVE_TO_RAM", "MSG_PROGRESS_TITLE_SAVE_TO_CF", "MSG_ALREADY_EXIST",
    "MSG_INSUFFICIENT_SPACE_ON_RAM", "MSG_INSUFFICIENT_SPACE_ON_CARD", "MSG_COPY_IN_ZUMBLA",
    "MSG_COPY_IN_COMPACTFLASH", "MSG_PROGRESS_TRANSFER_FILE", "MSG_NON_SCOLLEGARE_ZUM", "MSG_NON_SCOLLEGARE_ZUM_CF",
    // PC song folder and the file information dialog
    "MSG_READING_SONGS_FROM_HARDDISK", "MSG_X_OF_N", "MSG_IMPORT_FIRST_4_CHAR_MUST_BE_NOT_DIGIT",
    "MSG_FILEINFO_CAPTION", "MSG_FILEINFO_FILENAME", "MSG_FILEINFO_TITLE", "MSG_FILEINFO_INTERPRET",
    "MSG_FILEINFO_CATEGORY", "MSG_FILEINFO_EDITOR", "MSG_FILEINFO_AUTHOR", "MSG_COPYRIGHT",
    // Search, export, print
    "MSG_COMPARE_LIST", "MSG_SEARCH_TEXTSEARCH", "MSG_SEARCH_FINDONTEXT", "MSG_SEARCH_LIST",
    "MSG_SEARCH_CHECKTITLE", "MSG_SEARCH_CHECKINTERPRET", "MSG_SEARCH_CHECKPC", "MSG_SEARCH_CHECKCARD",
    "MSG_SEARCH_NEXT", "MSG_SEARCH_SELECTALL", "MSG_SEARCH_SPECIFY_AT_LEAST_A_LIST", "MSG_SEARCH_TEXT_NOT_FOUND",
    "MSG_DB_WITH_DELIMITED_FIELD", "MSG_TITLE_SAVEFILE", "MSG_TITLECSV", "MSG_FILESAVED_CSV",
    "MSG_PRINT_PAGETITLE_HD", "MSG_PRINT_PAGETITLE_ZUM", "MSG_PRINT_PAGETITLE_CARD", "MSG_PRINT_FILENAME_HD",
    "MSG_PRINT_FILENAME_ZUM", "MSG_PRINT_FILENAME_CARD", "MSG_NO_SONG_SELECTED", "MSG_PAGE_X_OF_Y",
    // Deletion, recovery, card clearing
    "MSG_DELETE_SONG_FROM_HD", "MSG_DELETE_SONG_FROM_CARD", "MSG_DELETE_SONG_FROM_RAM", "MSG_DELETE_SONG_FROM_CF",
    "MSG_CANCELLA", "MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY", "MSG_DELETING_SONG_NAME_FILE_NAME",
    "MSG_PROCEDURE_MAY_BE_LONG", "MSG_SCANNING_HASH_TABLE", "MSG_RECOVERY_FILE_FROM_HASH", "MSG_REGEN_INDEX_FILE",
    "MSG_FORMAT_CF", "MSG_SURE_TO_FORMAT_CARD", "MSG_SURE_TO_FORMAT_THIS_UNIT",
    // Main window menu, hover labels, about boxes, splash
    "MSG_MENU_FILE", "MSG_MENU_HELP", "MSG_MENU_FILE_SAVE_DB", "MSG_MENU_FILE_FORMAT", "MSG_MENU_FILE_UPDATE_ZUMBLA",
    "MSG_MENU_FILE_INDEX_REGEN", "MSG_MENU_FILE_EXIT", "MSG_MENU_FILE_ZUM_TO_PC", "MSG_MENU_EXPORT_TO_FDD",
    "MSG_MENU_IMPORT_MF4_FROM_FDD", "MSG_MENU_HELP_ZUMBLA_INFO", "MSG_MENU_HELP_ZUMSOFT_INFO",
    "MSG_MENU_IMPORT_FROM_PC", "MSG_TOOLTIP_0", "MSG_TOOLTIP_1", "MSG_TOOLTIP_2", "MSG_TOOLTIP_3", "MSG_TOOLTIP_4",
    "MSG_ZUMSOFT_VERSION", "MSG_ZUMBLA_OSVER", "MSG_VERSION", "MSG_CARD_IDENTIFICATION", "MSG_PRINT_WHICH_LIST",
    "MSG_EXPORT_WHICH_LIST",
    // Floppy and playback
    "MSG_DIALOG_INSERT_FLOPPY", "MSG_PROGRESS_TITLE_SAVING_TO_FLOPPY", "MSG_PROGRESS_TITLE_LOADING_FROM_FLOPPY",
    "MSG_NO_MF4_IN_THIS_FLOPPY", "MSG_IMPORTING_FROM_FLOPPY", "MSG_1_SONG_IMPORTED_FROM_FLOPPY",
    "MSG_N_SONGS_IMPORTED_FROM_FLOPPY", "MSG_NO_SONG_HD_SELECTED", "MSG_PLAY_QUALITY", "MSG_PLAY_ERROR",
    "MSG_OPEN_ERR", "MSG_WRITE_ERR", "MSG_NO_FLOPPY_FOLDER",
    // Uninstaller
    "IDC_ARE_YOU_SURE_TO_UNINSTALL", "UNINSTALL_IDOK", "UNINSTALL_IDCANCEL", "MSG_WINDOWS_MUST_BE_RESTARTED",
    "MSG_UNINSTALL_TITLE", "MSG_NO_RESTART_NEEDED", "MSG_UNINSTALL_PACKAGE", "MSG_UNINSTALL_SONGS",
};

// Families looked up as BASE_0 .. BASE_(count-1).
struct Family {
  const char* base;
  int count;
};
const Family kFamilies[] = {
    {"MSG_COLUMN_TITLE", 4},  // title, performer, genre, file name
    {"MSG_CHORDMODE", 2},
    {"MSG_COLORSETUP", 4},
    {"MSG_VIDEOMODE", 2},
    {"MSG_FXEQU", 5},
    {"MSG_TEXTALIGN", 2},
    {"MSG_ZUMBLALANGUAGE", 5},
    {"MSG_AUTOOFF", 2},
    {"MSG_FXECHO", 3},
};

// The arguments each formatted text receives, as FormatSignature spells them
// ("i" counts as "d"). Every other required text is shown as it stands, or
// used as a format without arguments, and must hold no conversion.
struct Signature {
  const char* key;
  const char* sig;
};
const Signature kSignatures[] = {
    {"MSG_CANTOPEN", "s"},                                // file name
    {"MSG_CANTCREATE", "s"},                              // file name
    {"MSG_CANTDELETE", "s"},                              // file name
    {"MSG_NO_OPENFILE", "s"},                             // PC path of a player-memory song
    {"MSG_NOTRANFERSONG", "d"},                           // song code
    {"MSG_SPAZIO_INSUF", "s"},                            // path
    {"MSG_PBLCOMUNICATION", "s"},                         // path
    {"MSG_MESSAGE_CF2", "d"},                             // free megabytes so far
    {"MSG_MESSAGE_CF3", "dd"},                            // nominal card size, free per cent
    {"MSG_MESSAGE_CF5", "d"},                             // free internal memory per cent
    {"MSG_MF3INFOLDER", "d"},                             // PC song count
    {"MSG_MF3INCARD", "d"},                               // player song count
    {"MSG_ZUMNET_MHX_USE_THIS_VERSION", "s"},             // first line of the firmware file
    {"MSG_VERIFY_HASH_TABLE", "d"},                       // folder number
    {"MSG_ALREADY_EXIST", "s"},                           // title
    {"MSG_COPY_IN_ZUMBLA", "sdd"},                        // title, running number, count
    {"MSG_COPY_IN_COMPACTFLASH", "sdd"},                  // title, running number, count
    {"MSG_PROGRESS_TRANSFER_FILE", "sdd"},                // title, running number, count
    {"MSG_X_OF_N", "dd"},                                 // running number, total
    {"MSG_IMPORT_FIRST_4_CHAR_MUST_BE_NOT_DIGIT", "s"},   // file path
    {"MSG_PAGE_X_OF_Y", "dd"},                            // page, pages
    {"MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY", "d"},      // selected count
    {"MSG_DELETING_SONG_NAME_FILE_NAME", "ss"},           // title, file name
    {"MSG_SCANNING_HASH_TABLE", "d"},                     // folder number
    {"MSG_RECOVERY_FILE_FROM_HASH", "d"},                 // folder number
    {"MSG_SURE_TO_FORMAT_THIS_UNIT", "s"},                // drive
    {"MSG_ZUMSOFT_VERSION", "s"},                         // version text
    {"MSG_ZUMBLA_OSVER", "s"},                            // player firmware release
    {"MSG_CARD_IDENTIFICATION", "ssd"},                   // card model, serial number, MB
    {"MSG_N_SONGS_IMPORTED_FROM_FLOPPY", "d"},            // song count
    {"MSG_PLAY_ERROR", "d"},                              // error number
    {"MSG_OPEN_ERR", "s"},                                // input path
    {"MSG_UNINSTALL_PACKAGE", "s"},                       // the package manager's command
    {"MSG_UNINSTALL_SONGS", "sd"},                        // PC song folder, song count
};

std::vector<std::string> RequiredKeys() {
  std::vector<std::string> keys(std::begin(kRequiredKeys), std::end(kRequiredKeys));
  for (const auto& f : kFamilies) {
    for (int i = 0; i < f.count; ++i) keys.push_back(std::string(f.base) + "_" + std::to_string(i));
  }
  return keys;
}

// The shipped dictionary as the programs see it, in one language.
struct LoadedLanguage {
  ScriptedUi ui;
  Dictionary dict;
};

std::unique_ptr<LoadedLanguage> LoadLanguage(const std::string& plain, const char* language) {
  auto l = std::make_unique<LoadedLanguage>();
  l->dict.LoadFromText(plain, language, l->ui);
  return l;
}

std::string ShippedPlainText() {
  auto file = ReadBinaryFile(testing::BuiltDataDir() / "DICT.DIC");
  EXPECT_TRUE(file.has_value());
  auto plain = file ? DecodeDictionary(*file) : std::nullopt;
  EXPECT_TRUE(plain.has_value());
  return plain.value_or("");
}

TEST(ShippedDictionary, HoldsEveryRequiredKeyInEveryLanguage) {
  std::string plain = ShippedPlainText();
  auto keys = RequiredKeys();
  ASSERT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size()) << "a key is listed twice";
  for (const char* lang : kLanguages) {
    auto l = LoadLanguage(plain, lang);
    EXPECT_TRUE(l->ui.messages.empty()) << "the loader complained: the table is full";
    for (const auto& k : keys) {
      EXPECT_TRUE(l->dict.Has(k)) << k << " is not listed under ENUMKEYS";
      std::string t = l->dict.GetText(k);
      EXPECT_FALSE(t.empty()) << k << " is empty in " << lang;
      EXPECT_NE(t, "String Error!") << k << " has no text in " << lang;
    }
  }
}

TEST(ShippedDictionary, TextsTakeTheArgumentsTheirCallersPass) {
  std::string plain = ShippedPlainText();
  std::set<std::string> required;
  for (const auto& k : RequiredKeys()) required.insert(k);
  std::map<std::string, std::string> expected;
  for (const auto& s : kSignatures) {
    EXPECT_TRUE(required.count(s.key)) << s.key << " has a signature but is not a required key";
    expected[s.key] = s.sig;
  }
  for (const char* lang : kLanguages) {
    auto l = LoadLanguage(plain, lang);
    for (const auto& k : required) {
      auto it = expected.find(k);
      std::string want = it == expected.end() ? "" : it->second;
      EXPECT_EQ(FormatSignature(l->dict.GetText(k)), want) << k << " in " << lang;
    }
  }
}

// The message dialog keeps at most 99 characters of a line; the rights text
// fills a 32-byte header field; the export's first line carries its own end.
TEST(ShippedDictionary, TextsFitWhereTheyAreShown) {
  std::string plain = ShippedPlainText();
  for (const char* lang : kLanguages) {
    auto l = LoadLanguage(plain, lang);
    for (int i = 0; i < l->dict.Count(); ++i) {
      std::string key = l->dict.KeyAt(i);
      std::string text = l->dict.GetText(key);
      size_t start = 0;
      for (;;) {
        size_t nl = text.find('\n', start);
        size_t len = (nl == std::string::npos ? text.size() : nl) - start;
        EXPECT_LE(len, 99u) << key << " in " << lang << " has a line the message dialog would cut";
        if (nl == std::string::npos) break;
        start = nl + 1;
      }
    }
    EXPECT_LE(l->dict.GetText("MSG_COPYRIGHT").size(), 31u) << lang;
    std::string csv = l->dict.GetText("MSG_TITLECSV");
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back(), '\n') << lang;
    EXPECT_EQ(Fmt(csv), csv) << "the export header is used as a format and must print as it stands";
  }
}

}  // namespace
}  // namespace kestro
