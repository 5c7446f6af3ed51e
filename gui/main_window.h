// Kestro's main window: the PC song folder on the left, the connected
// medium's songs on the right, the transfer arrows between them, the status
// lines below, the picture buttons above, the menu with its picture items.
//
// It owns the application context and is the connection cycle's view. Its
// three timers drive the program: the main tick (every 1.5 s: liveness, new
// songs, shutdown request, first-connection notice, connection cycle, menu
// states), the hover labels (every 0.5 s) and a one-off raise after 3 s.
// Every command goes through OnCommand by its identifier; the busy flag of
// the cycle keeps a second operation from starting while one pumps events.
//
// While a song plays, a fourth timer follows its play time: the karaoke
// panel under the lists shows the player's screen for that time, and the
// controls return to rest when the song has ended.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "gui/commands.h"
#include "gui/song_list_model.h"
#include "library/lists.h"
#include "shell/app.h"

class QLabel;
class QPrinter;

namespace kestro::gui {

class HoverLabel;
class KaraokeView;
class PictureButton;
class QtUi;
class Splash;
class SongListView;
class TransferArrows;

class MainWindow : public QMainWindow, public ConnectionView, public PlaybackView {
  Q_OBJECT

 public:
  static constexpr int kMainTickMs = 1500;
  static constexpr int kHoverTickMs = 500;
  static constexpr int kRaiseMs = 3000;
  static constexpr int kAboutSplashMs = 5000;
  // How often the karaoke panel follows the song: often enough for a word
  // to light up with its syllable.
  static constexpr int kPlayTickMs = 30;

  // The state of the main tick besides the connection cycle's own.
  struct TickState {
    int liveness = 1;             // written to SETTINGS/"KESTROACTIVE"
    bool newSongsPending = true;  // one reload of the PC list to come
    int messageCountdown = 3;     // ticks before the first-connection notice closes
  };

  MainWindow(Env& env, LinkChannels channels, QWidget* parent = nullptr);
  ~MainWindow() override;

  App& app() { return *app_; }
  Env& env() { return env_; }
  TickState tick;

  // Main-window creation after the widgets exist: the folders and settings,
  // the new songs merged in, column widths and titles, menu texts, the PC
  // list read.
  void Prepare();
  // The three timers.
  void StartTimers();
  void StopTimers();

  // --- The dispatch ---
  // Runs the command of `id`; false when it did not run (unknown, not
  // available yet, or ignored while busy).
  bool OnCommand(int id);
  QAction* ActionFor(int id) const;

  // --- Timers ---
  void MainTick();
  void HoverTick();
  void RaiseTick();
  // CheckNewSongs: reloads the PC list when asked to (or once at start);
  // true when it reloaded.
  bool CheckNewSongs();
  void UpdateMenuStates();
  // The floppy export follows the PC list's selection.
  void UpdateSelectionMenu();

  // --- ConnectionView ---
  void ShowPlayerStatus(int reading) override;
  void RefreshListViews() override;
  void SetCentralArrows(int medium, Transport transport) override;
  void ClearPlayerListView() override;

  // --- PlaybackView ---
  void ShowPlayControls(bool playing) override;

  // --- Playback ---
  // The PLAY picture button: the selected PC song, with its words on the
  // karaoke panel.
  void PlayPressed();
  // One step of the play timer: the karaoke panel at the song's play time;
  // a song that has ended is stopped.
  void FollowPlayback();
  // Where the play time comes from (by default the sound heard so far).
  void SetPlayTime(std::function<double()> seconds) { playTime_ = std::move(seconds); }
  KaraokeView* Karaoke() const { return karaoke_; }
  PictureButton* PlayButton() const { return play_; }
  PictureButton* StopButton() const { return stop_; }
  bool FollowingPlayback() const { return playTimer_.isActive(); }

  // --- The lists ---
  SongListView* PcView() const { return pcView_; }
  SongListView* PlayerView() const { return playerView_; }
  SongListModel* PcModel() const { return pcModel_; }
  SongListModel* PlayerModel() const { return playerModel_; }
  // CopySelectionToRecords: the lists' selections into the records'
  // `selected` flags, which the song commands act on.
  void CopySelectionToRecords();
  void ColumnClicked(ListSide side, int column);
  // Songs of list `from` dropped on list `target`.
  void SongsDropped(ListSide target, ListSide from);
  // Files of the file manager dropped on list `target`.
  void FilesDropped(ListSide target, const QStringList& files);

  // --- What is shown ---
  QString StatusPicture() const { return statusPicture_; }
  QString MediumPicture() const { return mediumPicture_; }
  TransferArrows* Arrows() const { return arrows_; }
  QString StatusLineShown(int slot) const;  // 0 PC count, 1 player count, 2 medium information
  QString PlayerCaption() const;
  PictureButton* InternetButton() const { return internet_; }
  HoverLabel* Hover() const { return hover_; }

  // The splash for `ms` (0: as long as last time).
  void ShowSplash(int ms);
  // Another start of the program asked to be this one.
  void BringToFront();
  // Closed for good (by the user, the exit command or a shutdown request).
  bool Closed() const { return closed_; }

  // --- Search (the search dialog works through these) ---
  library::SearchState searchState;
  QString searchText;
  // The records of a list in the order its rows show them.
  library::SongList ViewOrder(ListSide side) const;
  // Find next: selects the next matching row; the message when none is left
  // or no list is checked.
  void FindNextMatch(const std::string& text);
  // Select all: every matching row of the checked lists; false (after the
  // message) when no list is checked.
  bool SelectAllMatches(const std::string& text);
  // The focus to the list searched last.
  void FocusSearchedList();

  // --- Dialogs ---
  // The information of the PC song at `row` (a double click).
  void ShowFileInfo(int row);
  // Which list the print dialog chose, and whether only its selection.
  struct PrintChoice {
    bool pcList = false;
    bool selectionOnly = false;
  };
  // Tests: stands for the print dialog. Prepares the printer (a PDF file)
  // and gives the choice; nothing cancels.
  std::function<std::optional<PrintChoice>(QPrinter&)> answerPrint;
  // The desktop's browser for the help page and the web site.
  std::function<bool(const QUrl&)> openUrl;

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void BuildMenus();
  void ApplyListWidths();
  void BuildLanguageMenu(QMenu* menu);
  void ApplySortIndicators();
  void UpdateStatusLines();
  // The titles over the lists: the PC's songs, and what the right-hand list
  // shows for the medium.
  void UpdateListCaptions();
  void SetStatusPicture(const QString& name);
  void SetMediumPicture(const QString& name);
  void SaveScrollRows();
  void RestoreScrollRows();
  void RunAction(Action action);
  void DeleteKeyPressed(ListSide side);
  // "TO_ZUMBLA" and "TO_PC" on the lists' selections, telling the user when
  // the player was lost on the way.
  void SendSelectionToPlayer();
  void BringSelectionToPc();
  void OpenServerPage();
  bool CanArm(bool toPlayer) const;
  void ShowSystemInfo();
  void UpdateFirmware();
  void ShowSearchDialog();
  void ExportList();
  void PrintLists();
  void ShowPlayerOptions();
  void OpenHelpPage();
  QString T(const char* key) const;

  Env& env_;
  QtUi* qtUi_ = nullptr;  // env_.ui when it is the window's own
  std::unique_ptr<App> app_;

  SongListModel* pcModel_ = nullptr;
  SongListModel* playerModel_ = nullptr;
  SongListView* pcView_ = nullptr;
  SongListView* playerView_ = nullptr;
  TransferArrows* arrows_ = nullptr;
  QLabel* statusPictureLabel_ = nullptr;
  QLabel* mediumPictureLabel_ = nullptr;
  QLabel* statusLabels_[3] = {nullptr, nullptr, nullptr};
  QLabel* pcCaption_ = nullptr;
  QLabel* playerCaption_ = nullptr;
  PictureButton* play_ = nullptr;
  PictureButton* stop_ = nullptr;
  KaraokeView* karaoke_ = nullptr;
  QTimer playTimer_;
  std::function<double()> playTime_;
  PictureButton* internet_ = nullptr;
  HoverLabel* hover_ = nullptr;
  std::map<int, QAction*> actions_;
  // The menu-bar pictures and their hover texts.
  std::vector<std::pair<QAction*, QString>> barPictures_;

  QString statusPicture_ = QStringLiteral("STATUSOFF");
  QString mediumPicture_;
  QTimer mainTimer_;
  QTimer hoverTimer_;
  QTimer raiseTimer_;
  QPointer<Splash> splash_;
  int splashDisplayMs_ = 4000;
  // The scroll positions of both lists, kept at each tick for the next
  // refresh.
  std::optional<int> pcScroll_, playerScroll_;
  // The reprogram question was answered while the player stays in boot mode.
  bool reprogramAsked_ = false;
  bool closeAfterOperation_ = false;
  // Select all leaves the matches of both lists selected.
  bool keepBothSelections_ = false;
  bool closed_ = false;
};

}  // namespace kestro::gui
