#include "shell/commands.h"


namespace kestro {

namespace {

using library::kMediumCard;
using library::kMediumCardReader;
using library::kMediumNone;
using library::kMediumRam;

// The link, and the card access, of medium 1 around an operation; closed
// on every path.
class CardBracket {
 public:
  explicit CardBracket(App& app) : app_(app) {}
  ~CardBracket() { Close(); }
  CardBracket(const CardBracket&) = delete;
  CardBracket& operator=(const CardBracket&) = delete;

  // LinkOpen; with `handshake` CardAccessBegin and CardAccessOpen; with
  // `mount` the volume mounted: the card check of a connection runs when it
  // is not, and after a card operation that lost the link (what the card
  // holds then may differ from what was kept of it). False when the player
  // or its card cannot be used now.
  bool Open(bool handshake, bool mount) {
    const bool remount = mount && (!app_.card.Mounted() || app_.link.linkErrorState != 0);
    app_.link.linkErrorState = 0;
    if (!app_.link.LinkOpen()) {
      app_.link.LinkClose();
      return false;
    }
    open_ = true;
    if (handshake || remount) BeginAccess();
    if (app_.link.linkErrorState == 1) return false;
    if (remount) return app_.card.CheckCard() == 1;
    return true;
  }
  // The operation ended the card access itself.
  void AccessEnded() { inAccess_ = false; }
  void Close() {
    if (!open_) return;
    if (inAccess_) app_.player.CardAccessEnd();
    inAccess_ = false;
    app_.link.LinkClose();
    open_ = false;
  }

 private:
  void BeginAccess() {
    app_.player.CardAccessBegin();
    app_.player.CardAccessOpen();
    inAccess_ = true;
  }

  App& app_;
  bool open_ = false;
  bool inAccess_ = false;
};

void MarkMediaChanged(App& app) {
  if (app.cycle.currentMedium != kMediumNone) app.env.WriteInt(settings::kMediaChange, 1);
}

CommandStatus Result(int r) { return r ? CommandStatus::Done : CommandStatus::NothingDone; }

// The result of an operation that rewrites the card's index files.
CommandStatus IndexedResult(App& app, int r) {
  if (r && app.lib.indexFilesStale) return CommandStatus::IndexFilesStale;
  return Result(r);
}

// The body of the player-side delete, under the caller's busy flag.
CommandStatus DeletePlayerSide(App& app) {
  MarkMediaChanged(app);
  if (!app.RequirePlayerReady()) return CommandStatus::NotReady;
  library::Library& lib = app.lib;
  lib.indexFilesStale = false;
  int r = 0;
  switch (app.cycle.currentMedium) {
    case kMediumRam:
      r = lib.DeleteCardSongs(app.env.T("MSG_DELETE_SONG_FROM_RAM"));
      break;
    case kMediumCard: {
      // The card delete makes its own card access.
      CardBracket bracket(app);
      if (!bracket.Open(false, true)) return CommandStatus::Unreachable;
      r = lib.DeleteCardSongs(app.env.T("MSG_DELETE_SONG_FROM_CARD"));
      if (r) bracket.AccessEnded();
      break;
    }
    case kMediumCardReader:
      r = lib.DeleteCardSongs(app.env.T("MSG_DELETE_SONG_FROM_CARD"));
      break;
    default:
      break;
  }
  if (r) app.cycle.RefreshLists();
  return IndexedResult(app, r);
}

CommandStatus DeletePcSide(App& app) {
  int r = app.lib.DeletePcSongs(app.env.T("MSG_DELETE_SONG_FROM_HD"));
  if (r) {
    app.lib.ReloadPcList();
    app.cycle.RefreshLists();
  }
  return Result(r);
}

}  // namespace

CommandStatus TransferToPlayer(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  app.cycle.SyncLibrary();
  MarkMediaChanged(app);
  if (!app.RequirePlayerReady()) return CommandStatus::NotReady;
  if (!app.lib.playerListRead) return CommandStatus::PlayerListUnknown;
  const int medium = app.cycle.currentMedium;
  app.lib.indexFilesStale = false;
  int r = 0;
  if (medium == kMediumCard) {
    CardBracket bracket(app);
    if (!bracket.Open(true, true)) {
      app.cycle.RefreshLists();
      return CommandStatus::Unreachable;
    }
    r = app.lib.SendSongsToCard();
  } else {
    // Medium 2 passes on to the player's memory.
    r = app.lib.SendSongsToCard();
  }
  // The player gives songs in its memory codes of its own.
  if (r && medium == kMediumRam) app.cycle.LoadPlayerSongList();
  app.cycle.RefreshLists();
  return IndexedResult(app, r);
}

CommandStatus TransferToPc(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  app.cycle.SyncLibrary();
  if (!app.RequirePlayerReady()) return CommandStatus::NotReady;
  int r = 0;
  if (app.cycle.currentMedium == kMediumCard) {
    CardBracket bracket(app);
    if (!bracket.Open(true, true)) {
      app.cycle.RefreshLists();
      return CommandStatus::Unreachable;
    }
    r = app.lib.CopyCardSongsToPc();
  } else {
    r = app.lib.CopyCardSongsToPc();
  }
  if (r) app.lib.ReloadPcList();
  app.cycle.RefreshLists();
  return Result(r);
}

CommandStatus DeletePcSelection(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  return DeletePcSide(app);
}

CommandStatus DeletePlayerSelection(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  app.cycle.SyncLibrary();
  return DeletePlayerSide(app);
}

CommandStatus DeleteSelection(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  app.cycle.SyncLibrary();
  // A declined PC delete does not go on to the player's songs.
  if (app.lib.SelectedCount(app.lib.pc) > 0) return DeletePcSide(app);
  return DeletePlayerSide(app);
}

CommandStatus RegenerateCardIndexes(App& app) {
  const int medium = app.cycle.currentMedium;
  if (medium != kMediumCard && medium != kMediumCardReader) return CommandStatus::NotAvailable;
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  app.cycle.SyncLibrary();
  app.env.clock.SleepMs(100);
  if (!app.RequirePlayerReady()) return CommandStatus::NotReady;
  app.env.ui.SetProgressTitle(app.env.T("MSG_REGEN_INDEX_FILE"));
  app.env.ui.BeginWaitCursor();
  app.lib.indexFilesStale = false;
  int r = 0;
  bool reached = true;
  if (medium == kMediumCard) {
    CardBracket bracket(app);
    reached = bracket.Open(true, true);
    if (reached) r = app.lib.RecoverCardFromFolders();
  } else {
    r = app.lib.RecoverCardFromFolders();
  }
  // The list now is what the folders hold.
  if (r) app.lib.playerListRead = true;
  app.env.ui.EndCursor();
  app.cycle.RefreshLists();
  if (!reached) return CommandStatus::Unreachable;
  return IndexedResult(app, r);
}

CommandStatus FormatCardCommand(App& app) {
  const int medium = app.cycle.currentMedium;
  if (medium != kMediumCard && medium != kMediumCardReader) return CommandStatus::NotAvailable;
  if (app.cycle.busy) return CommandStatus::Busy;
  int r = 0;
  {
    BusyScope busy(app.cycle);
    app.cycle.SyncLibrary();
    Env& env = app.env;
    env.clock.SleepMs(100);
    if (!app.RequirePlayerReady()) return CommandStatus::NotReady;
    env.ui.SetProgressTitle(env.T("MSG_FORMAT_CF"));
    std::string question = medium == kMediumCard ? env.T("MSG_SURE_TO_FORMAT_CARD")
                                                 : env.TF("MSG_SURE_TO_FORMAT_THIS_UNIT", env.GetText(settings::kFlashDrive));
    if (env.ui.ShowMessage(question, env.T("MSG_CAPTION_WARNING"), mb::kYesNo | mb::kIconQuestion | mb::kDefButton2) !=
        kIdYes)
      return CommandStatus::NothingDone;
    env.ui.BeginWaitCursor();
    bool reached = true;
    if (medium == kMediumCard) {
      // A card that could not be mounted can still be formatted.
      CardBracket bracket(app);
      reached = bracket.Open(true, false);
      if (reached) r = app.lib.ClearCard();
    } else {
      r = app.lib.ClearCard();
    }
    // An empty card has an empty list; a card left half cleared has none
    // that is known.
    app.lib.ForgetPlayerList();
    app.lib.playerListRead = r != 0;
    app.cycle.RefreshLists();
    env.ui.EndCursor();
    if (!reached) return CommandStatus::Unreachable;
  }
  app.cycle.ShowMediumInfo();
  return r ? CommandStatus::Done : CommandStatus::Failed;
}

}  // namespace kestro
