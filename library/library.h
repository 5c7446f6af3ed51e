// The song library: the PC list and the player-side list, and the
// operations that fill them and move songs between the PC, the player's
// internal memory and its card.
//
// The application owns one Library for its whole run. The connection cycle
// keeps `medium` (the `current medium`) and the player references up to
// date; the shell brackets each operation (busy flag, "mediaChange", the
// link and the card-access handshake where the operation does not do it
// itself).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "library/pc_folder.h"
#include "library/song_record.h"
#include "context/env.h"

namespace kestro {
class CardFs;
class Link;
class Player;
}  // namespace kestro

namespace kestro::library {

// Medium codes of the connection cycle.
inline constexpr int kMediumNone = -1;
inline constexpr int kMediumCardReader = 0;
inline constexpr int kMediumCard = 1;
inline constexpr int kMediumRam = 2;

class Library {
 public:
  explicit Library(Env& env);

  Env& env;
  SongList pc;
  SongList player;
  // The committed medium: -1 nothing, 0 card reader, 1 player with card,
  // 2 player's internal memory.
  int medium = kMediumNone;
  // The player over USB (media 1 and 2).
  Link* link = nullptr;
  Player* playerLink = nullptr;
  // The card file system of the player's card (medium 1).
  CardFs* card = nullptr;
  // The card's folder in a card reader (medium 0).
  std::filesystem::path flashDrive;
  // The user declined to give the card its structure.
  bool moduleError = false;
  // The folder the PC list shows (OLD_MF4 at start).
  std::filesystem::path pcFolder;

  // --- Lists ---
  // ScanPcFolder of the current PC folder.
  void ReloadPcList();
  // LoadRamSongList: the player-side list from the player's internal memory;
  // false (an empty list) when the player did not give its song table.
  bool LoadRamSongList();
  // LoadPlayerSongList: empties the player-side list and fills it for the
  // medium (the card through a card reader or through the player, the
  // player's memory). False when the list could not be read: a card's index
  // could not be read (`indexUnreadable`; the medium is then unusable), the
  // user declined the structure (`moduleError`), or the player did not
  // answer.
  bool LoadPlayerSongList();
  // The player-side list holds what the medium holds: the last load
  // succeeded. While it is false an empty list says nothing about the
  // player's songs, and nothing may be numbered after it.
  bool playerListRead = false;
  // Empties the player-side list, which then is not known.
  void ForgetPlayerList() {
    player.clear();
    playerListRead = false;
  }
  // LoadCardSongList: checks the card's structure (offering to create what
  // is missing), and fills the list from MINDEX0.DAT and MINDEX2.DAT. Medium 1
  // runs inside a card access of the caller with the volume mounted.
  bool LoadCardSongList();

  // --- The card's index files and structure ---
  // CheckCardStructure: the six index and setup files and the 31 song
  // folders are all there.
  bool CheckCardStructure();
  // CreateCardStructure: adds whatever of them is missing. Also the last
  // step of a card format. 1 when the structure is complete afterwards; 0
  // when something could not be made (a lost link, a full card).
  int CreateCardStructure();
  // The structure on the player's card that a format has just made (the
  // card's last format step, whatever the medium was before).
  int CreateStructureOnFormattedCard();
  // RebuildCardIndexes: regenerates the five index files from the card list
  // and puts them on the card. False when one could not be written, locally
  // or on the card (a lost link). `indexFilesStale` then tells whether the
  // card's index may be missing or say other than the list (the recovery
  // writes it anew): it may when the list changed (`listChanged`, songs
  // added or removed since the index was written) or when the rewrite had
  // begun on the card.
  bool RebuildCardIndexes(bool listChanged = true);
  bool indexFilesStale = false;
  // The folder the index files are written to and read from: the card's
  // folder for the card reader, else the install folder.
  std::filesystem::path IndexDir() const;
  std::filesystem::path IndexPath(std::string_view name) const { return IndexDir() / std::string(name); }
  // Set when the last load could not read an index file: the connection
  // cycle then gives up the medium.
  bool indexUnreadable = false;
  // The records' side of RefreshLists: without a usable player side the
  // player list is emptied; then the comparison marks the songs on both
  // sides, the status lines 0, 1 (and 3) get the counts, and each list is
  // sorted by its saved column.
  void RefreshLists(bool playerUsable);

  // --- Transfers ---
  // SendSongsToRam: the selected PC songs into the player's memory.
  int SendSongsToRam();
  // CopyRamSongsToPc: the selected player-memory songs into OLD_MF4.
  int CopyRamSongsToPc();

  // --- Deletion ---
  // DeleteRamSongs: the selected songs out of the player's memory.
  int DeleteRamSongs();
  // DeletePcSongs: the selected PC files; `caption` of the question.
  int DeletePcSongs(const std::string& caption);

  // --- Helpers shared by the operations ---
  // The PC file a song from the player becomes: "TITLE.MF4" in OLD_MF4, the
  // title made safe as a file name (player codes as the letters they stand
  // for, no folder separators). When `replace` is false and that name is
  // taken, the first free "TITLE (n).MF4".
  std::filesystem::path PcPathForTitle(const std::string& title, const std::string& ext, bool replace) const;
  // Removes a PC song being replaced: its file and the copies of it waiting
  // in NEW_MF4 and DOWNLOAD_MF4 (namesakes "BASE.MF4" / "BASE.MP3").
  void RemovePcSong(const std::filesystem::path& file, bool alsoMp3Namesakes);
  // The first code of a transfer: one above the highest of the player-side
  // list (0 when empty). Song k of the transfer gets FirstNewCode() + k.
  uint32_t FirstNewCode() const;
  // A code as the numbering gives it; past 65,535 (codes are 16-bit) the
  // lowest code the player-side list does not use, nothing when all are.
  std::optional<uint16_t> UsableCode(uint32_t numbered) const;
  // The after-each-song check: when the user closed the progress window,
  // asks "MSG_ASK_ABORT"; true to stop.
  bool AskAbort();
  int SelectedCount(const SongList& list) const;
  // The opening of every delete: the wait cursor, the count of selected
  // rows and the question "MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY". The count
  // when the user agreed; 0 (cursor restored) when nothing is selected or the
  // answer is not Yes.
  int ConfirmDelete(const SongList& list, const std::string& caption);

  // --- The card's songs (media 0 and 1; medium 2 passes on to the
  // player's memory). Medium 1 runs inside a card access of the caller
  // with the volume mounted; medium 0 works on the files under
  // `flashDrive`. Each returns 1 when it ran (also when the user stopped
  // it midway) and 0 when nothing was done. ---
  // SendSongsToCard: the selected PC songs onto the card.
  int SendSongsToCard();
  // CopyCardSongsToPc: the selected card songs into OLD_MF4.
  int CopyCardSongsToPc();
  // DeleteCardSongs: the selected card songs; `caption` of the question.
  int DeleteCardSongs(const std::string& caption);
  // RecoverCardFromFolders: the card list and its index files anew from
  // the song files in folders 0 to 30.
  int RecoverCardFromFolders();
  // ClearCard: empties the card and gives it the player's structure; 0
  // when the card could not be formatted or its structure not completed.
  int ClearCard();

  // Free bytes on the card and the unit a song's size is rounded up to;
  // nothing when the card cannot be asked.
  struct CardSpace {
    uint64_t freeBytes = 0;
    uint64_t unit = 512;
  };
  std::optional<CardSpace> ReadCardSpace();
  // After a question in the middle of a card access the player is asked
  // for the card again (medium 1).
  void ReopenCardAccess();
  // AskAbort, with the card asked for again after the question.
  bool AskCardAbort();
  // The player's link is gone in the middle of a card operation.
  bool CardLinkLost() const;

  // What the last transfer or deletion did with each selected song, for
  // front ends that report song by song.
  enum class Outcome { Done, Skipped, Failed };
  struct SongOutcome {
    std::string song;    // the PC file, or the player's "%05d.MF4"
    std::string target;  // where it went: the card or PC file name ("" when not known)
    Outcome outcome = Outcome::Done;
  };
  std::vector<SongOutcome> outcomes;
};

// A song title as a file name on the PC.
std::string SafeFileName(const std::string& title);

}  // namespace kestro::library
