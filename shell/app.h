// One running Kestro: everything the program knows and talks to, owned in
// one place and passed down explicitly. The windowed program and the
// command-line tool each build one; tests build as many as they like.
#pragma once

#include <memory>

#include "cardfs/card_fs.h"
#include "convert/convert_context.h"
#include "library/library.h"
#include "platform/process.h"
#include "link/firmware.h"
#include "link/ftdi.h"
#include "link/link.h"
#include "link/player.h"
#include "playback/playback.h"
#include "shell/connection.h"
#include "context/env.h"

namespace kestro {

class App {
 public:
  // `channels`: the real devices (MakeLinkChannels) or a simulated player.
  App(Env& env, LinkChannels channels, ConnectionView* view = nullptr);
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  Env& env;
  ConnectionView ownView;
  ConnectionView& view;
  library::Library lib;
  // The cycle comes before the link, which reports a lost player to it.
  ConnectionCycle cycle;
  Link link;
  Player player;
  SectorAccess sectors;
  CardFs card;
  DetachedStarter starter;
  Firmware firmware;
  // The conversion's state for the whole run (its questions' answers).
  ConvertContext conversion;
  // Songs played on the PC; "MSG_PLAY_QUALITY" is shown once a run.
  Playback playback;
  bool playQualityShown = false;

  // The start of a session with the PC song list, as the program's start
  // does it: the songs waiting in NEW_MF4 and DOWNLOAD_MF4 move into the PC
  // song folder (MergeNewSongs), then the PC list is read.
  void Start();

  // Runs the connection cycle until a medium is committed or `maxCycles`
  // cycles have passed, pausing `pauseMs` between cycles. Returns the
  // current medium.
  int SettleMedium(int maxCycles = 8, uint32_t pauseMs = 300);

  // PlayerReady, or the busy message of the main window ("MSG_ZUMNET_BUSY",
  // caption "MSG_ERROR", stop icon).
  bool RequirePlayerReady();
};

// Between programs: another program (the uninstaller) asks a running Kestro
// to close by setting Settings/"KESTROSHUTDOWN"; the window looks on each
// tick and ends. Its last act writes that key and the liveness key
// "KESTROACTIVE" back to 0, which is the answer the asking program waits for.
bool ShutdownRequested(const Env& env);
void WriteExitKeys(Env& env);

// The version command of the main window: "MSG_ZUMSOFT_VERSION" with the
// build's version, caption "MSG_CAPTION_INFO", information icon.
void ShowVersion(Env& env);

// The link channels of a program: the simulator's socket when the settings
// name one, else the real devices (loading the FTDI library into `ftdi`).
LinkChannels ProgramChannels(Env& env, FtdiLibrary& ftdi);

}  // namespace kestro
