// The main window's commands by their identifiers, and the table that says
// what each one does and how it stands to the busy flag. Several identifiers
// name the same command: the menu item, the menu-bar picture, a button and
// older aliases of the same action.
#pragma once

#include <optional>

namespace kestro::gui {

enum CommandId : int {
  kDeleteBarPicture = 48,
  kSaveListCsv = 104,
  kHelpPage = 107,
  kVersionText = 109,
  kSelectAllPc = 114,
  kSelectAllPcAlias = 129,
  kToPcAlias = 139,
  kSearchBarPicture = 1004,
  kStopPlaybackAlias = 1014,
  kDeleteAlias = 1018,
  kDeleteAlias2 = 1106,
  kToPcAlias2 = 1109,
  kToPlayerAlias = 1110,
  kPrintAlias = 1111,
  kSearchAlias = 1112,
  kStopPlaybackAlias2 = 1113,
  kPrintMenu = 40002,
  kFormatCard = 40003,
  kToPcMenu = 40006,
  kToPlayerMenu = 40007,
  kSearchMenu = 40011,
  kDeleteMenu = 40014,
  kStopPlaybackMenu = 40016,
  kPlayerOptions = 40022,
  kUpdateFirmware = 40028,
  kSoundSettings = 40030,
  kRegenerateIndexes = 40031,
  kExit = 40032,
  kDeleteAlias3 = 40042,
  kClearBusy = 40043,
  kSearchAlias2 = 40044,
  kPrintBarPicture = 40045,
  kExportToFloppy = 40059,
  kImportFromFloppy = 40060,
  kPlayerInformation = 40061,
  kKestroInformation = 40062,
  kImportFromPc = 40063,
};

// What a command does.
enum class Action {
  Delete,             // the selection: PC first, else the player's
  SaveListCsv,        // the export dialog
  HelpPage,           // "Kestro.html"
  VersionText,        // "MSG_ZUMSOFT_VERSION"
  SelectAllPc,
  TransferToPc,       // "TO_PC"
  TransferToPlayer,   // "TO_ZUMBLA"
  Search,             // the search dialog
  StopPlayback,
  Print,
  FormatCard,
  PlayerOptions,
  UpdateFirmware,
  SoundSettings,
  RegenerateIndexes,
  Exit,
  ClearBusy,
  ExportToFloppy,
  ImportFromFloppy,
  PlayerInformation,  // the system information box
  KestroInformation,  // the splash for five seconds
  ImportFromPc,
};

// How a command stands to the busy flag.
enum class Guard {
  None,       // runs whatever the flag says (or the operation checks it itself)
  UnlessBusy, // ignored while the flag is set
  Guarded,    // ignored while the flag is set; the flag is set while it runs
};

struct CommandEntry {
  int id;
  Action action;
  Guard guard;
};

inline constexpr CommandEntry kCommandTable[] = {
    {kDeleteBarPicture, Action::Delete, Guard::Guarded},
    {kDeleteAlias, Action::Delete, Guard::Guarded},
    {kDeleteAlias2, Action::Delete, Guard::Guarded},
    {kDeleteMenu, Action::Delete, Guard::Guarded},
    {kDeleteAlias3, Action::Delete, Guard::Guarded},
    {kSaveListCsv, Action::SaveListCsv, Guard::Guarded},
    {kHelpPage, Action::HelpPage, Guard::None},
    {kVersionText, Action::VersionText, Guard::None},
    {kSelectAllPc, Action::SelectAllPc, Guard::None},
    {kSelectAllPcAlias, Action::SelectAllPc, Guard::None},
    {kToPcAlias, Action::TransferToPc, Guard::Guarded},
    {kToPcAlias2, Action::TransferToPc, Guard::Guarded},
    {kToPcMenu, Action::TransferToPc, Guard::Guarded},
    {kToPlayerAlias, Action::TransferToPlayer, Guard::None},
    {kToPlayerMenu, Action::TransferToPlayer, Guard::None},
    {kSearchBarPicture, Action::Search, Guard::UnlessBusy},
    {kSearchAlias, Action::Search, Guard::UnlessBusy},
    {kSearchMenu, Action::Search, Guard::UnlessBusy},
    {kSearchAlias2, Action::Search, Guard::UnlessBusy},
    {kStopPlaybackAlias, Action::StopPlayback, Guard::None},
    {kStopPlaybackAlias2, Action::StopPlayback, Guard::None},
    {kStopPlaybackMenu, Action::StopPlayback, Guard::None},
    {kPrintAlias, Action::Print, Guard::Guarded},
    {kPrintMenu, Action::Print, Guard::Guarded},
    {kPrintBarPicture, Action::Print, Guard::Guarded},
    {kFormatCard, Action::FormatCard, Guard::Guarded},
    {kPlayerOptions, Action::PlayerOptions, Guard::Guarded},
    {kUpdateFirmware, Action::UpdateFirmware, Guard::Guarded},
    {kSoundSettings, Action::SoundSettings, Guard::None},
    {kRegenerateIndexes, Action::RegenerateIndexes, Guard::Guarded},
    {kExit, Action::Exit, Guard::None},
    {kClearBusy, Action::ClearBusy, Guard::None},
    {kExportToFloppy, Action::ExportToFloppy, Guard::Guarded},
    {kImportFromFloppy, Action::ImportFromFloppy, Guard::Guarded},
    {kPlayerInformation, Action::PlayerInformation, Guard::Guarded},
    {kKestroInformation, Action::KestroInformation, Guard::Guarded},
    // An import pumps events for as long as it converts; a second one, or a
    // transfer, must not start inside it.
    {kImportFromPc, Action::ImportFromPc, Guard::UnlessBusy},
};

// The entry of an identifier; nothing for an unknown one.
constexpr std::optional<CommandEntry> FindCommand(int id) {
  for (const CommandEntry& e : kCommandTable) {
    if (e.id == id) return e;
  }
  return std::nullopt;
}

// Every action has its window; kept as the one place that would hold back
// a command whose window is missing.
constexpr bool ActionAvailable(Action) { return true; }

}  // namespace kestro::gui
