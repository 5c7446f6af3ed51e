// The main window's song commands, shared by the window and the
// command-line tool: transfers both ways, deletion, the index rebuild and
// the card format.
//
// Each command takes the songs to act on from the records' `selected`
// flags (the window copies its selection into them first) and wraps the
// song library's operation the same way:
//   - ignored while the busy flag is set; the flag is raised for the
//     command's duration (the connection cycle then stays out of the way);
//   - Settings/"mediaChange" = 1 before songs go to or are deleted from the
//     player side;
//   - the medium must be settled (PlayerReady), else "MSG_ZUMNET_BUSY";
//   - medium 1 runs inside LinkOpen, CardAccessBegin, CardAccessOpen ...
//     CardAccessEnd, LinkClose, with the card mounted (the card check runs
//     first when it is not); medium 2 talks to the player per operation;
//     medium 0 works on the card reader's folder;
//   - afterwards the lists that changed are read again and both lists are
//     refreshed.
#pragma once

#include "shell/app.h"

namespace kestro {

enum class CommandStatus {
  Done,          // the operation ran (perhaps stopped midway by the user)
  NothingDone,   // no selection, a question declined, not enough room, ...
  Busy,          // another operation holds the busy flag: ignored
  NotReady,      // no settled medium: "MSG_ZUMNET_BUSY" was shown
  NotAvailable,  // the command does not apply to the current medium
  // The player-side list could not be read when the medium was taken over
  // (a lost link, a card refused): nothing was sent, since new songs
  // numbered after an unknown list would take the places of songs there.
  PlayerListUnknown,
  // The player or its card could not be reached for the command (the link
  // does not open, the player is busy, the card check failed): nothing done.
  Unreachable,
  // The operation began and did not complete (the card format: the card
  // was not made ready); the link and the card tell why.
  Failed,
  // The songs were sent or deleted (the library's outcomes tell which), but
  // the card's index files could not all be written: the player's list is
  // missing or old until the recovery writes it anew.
  IndexFilesStale,
};

// "TO_ZUMBLA": the selected PC songs to the player's memory or card.
CommandStatus TransferToPlayer(App& app);
// "TO_PC": the selected player songs into the PC song folder.
CommandStatus TransferToPc(App& app);
// The selected PC songs ("MSG_DELETE_SONG_FROM_HD"); the PC list is read
// again.
CommandStatus DeletePcSelection(App& app);
// The selected player songs (memory or card).
CommandStatus DeletePlayerSelection(App& app);
// The delete command: the PC selection when there is one, else the
// player's.
CommandStatus DeleteSelection(App& app);
// The index rebuild of the card ("MSG_REGEN_INDEX_FILE"): the card list
// and its index files from the song files in its folders. Media 0 and 1.
CommandStatus RegenerateCardIndexes(App& app);
// The format command ("MSG_FORMAT_CF"): asks, then empties the card and
// gives it the player's structure. Media 0 and 1.
CommandStatus FormatCardCommand(App& app);

}  // namespace kestro
