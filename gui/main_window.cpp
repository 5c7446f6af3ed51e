#include "gui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QGroupBox>
#include <QScreen>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "gui/backdrop.h"
#include "gui/file_import.h"
#include "gui/file_info_dialog.h"
#include "gui/list_printer.h"
#include "gui/options_dialog.h"
#include "gui/search_dialog.h"
#include "gui/hover_label.h"
#include "gui/icons.h"
#include "gui/karaoke_view.h"
#include "gui/look.h"
#include "gui/lost_link.h"
#include "gui/menu_states.h"
#include "gui/picture_button.h"
#include "gui/progress_dialog.h"
#include "gui/qt_ui.h"
#include "gui/song_list_view.h"
#include "gui/splash.h"
#include "gui/transfer_arrows.h"
#include "library/lists.h"
#include "library/pc_folder.h"
#include "library/print_layout.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"
#include "platform/version.h"
#include "shell/commands.h"
#include "shell/floppy.h"
#include "shell/language.h"
#include "shell/play_commands.h"
#include "shell/setup_record.h"

namespace kestro::gui {

namespace fs = std::filesystem;

namespace {

constexpr int kListSpacing = 10;
// How soon a drop that came while busy is tried again.
constexpr int kRetryDropMs = 200;

}  // namespace

MainWindow::MainWindow(Env& env, LinkChannels channels, QWidget* parent)
    : QMainWindow(parent), env_(env), qtUi_(dynamic_cast<QtUi*>(&env.ui)) {
  app_ = std::make_unique<App>(env_, std::move(channels), this);
  openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  setWindowTitle(QStringLiteral("Kestro"));
  QIcon icon = Icons::Icon(QStringLiteral("MainIcon"));
  if (!icon.isNull()) setWindowIcon(icon);
  BuildWidgets();
  BuildMenus();
  if (qtUi_) {
    qtUi_->SetOwner(this);
    qtUi_->statusLineChanged = [this](int) { UpdateStatusLines(); };
  }
  mainTimer_.setSingleShot(true);
  connect(&mainTimer_, &QTimer::timeout, this, [this] {
    // Started again first: the next tick comes on time also while this one
    // waits in a dialog, as the ticks of the original window did.
    mainTimer_.start(kMainTickMs);
    MainTick();
  });
  hoverTimer_.setInterval(kHoverTickMs);
  connect(&hoverTimer_, &QTimer::timeout, this, &MainWindow::HoverTick);
  raiseTimer_.setSingleShot(true);
  connect(&raiseTimer_, &QTimer::timeout, this, &MainWindow::RaiseTick);
  playTimer_.setInterval(kPlayTickMs);
  playTimer_.setTimerType(Qt::PreciseTimer);
  connect(&playTimer_, &QTimer::timeout, this, &MainWindow::FollowPlayback);
  app_->playback.SetView(this);
  ShowPlayControls(false);
  resize(1100, 660);
}

MainWindow::~MainWindow() {
  StopTimers();
  // The sound stops with the window that shows it.
  app_->playback.SetView(nullptr);
  app_->playback.StopPlayback();
  playTimer_.stop();
  if (qtUi_) {
    qtUi_->statusLineChanged = nullptr;
    if (qtUi_->Owner() == this) qtUi_->SetOwner(nullptr);
  }
  if (splash_) delete splash_.data();
  // The lists show the application's records: they go before it.
  delete takeCentralWidget();
  delete pcModel_;
  delete playerModel_;
}

QString MainWindow::T(const char* key) const { return FromLatin1(env_.T(key)); }

// --- Building ---

void MainWindow::BuildWidgets() {
  auto* backdrop = new Backdrop(this);
  setCentralWidget(backdrop);
  auto* grid = new QGridLayout(backdrop);
  grid->setContentsMargins(12, 6, 12, 8);
  grid->setHorizontalSpacing(kListSpacing);
  grid->setVerticalSpacing(6);

  // The picture buttons above the arrows: play, web site, stop.
  play_ = new PictureButton(QStringLiteral("PLAYBUTT"), QStringLiteral("PLAYBUTTPRESSED"), QStringLiteral("PLAYBUTTDIS"),
                            backdrop);
  internet_ = new PictureButton(QStringLiteral("INTERNETBUTT"), QStringLiteral("INTERNETBUTTPRESSED"), QString(), backdrop);
  stop_ = new PictureButton(QStringLiteral("STOPBUTT"), QStringLiteral("STOPBUTTPRESSED"), QString(), backdrop);
  play_->setText(QStringLiteral("Play"));
  stop_->setText(QStringLiteral("Stop"));
  internet_->setText(QStringLiteral("www"));
  connect(play_, &QAbstractButton::clicked, this, &MainWindow::PlayPressed);
  connect(stop_, &QAbstractButton::clicked, this, [this] { OnCommand(kStopPlaybackAlias); });
  connect(internet_, &QAbstractButton::clicked, this, &MainWindow::OpenServerPage);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addStretch(1);
  buttons->addWidget(play_);
  buttons->addWidget(internet_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  grid->addLayout(buttons, 0, 0, 1, 3);

  pcModel_ = new SongListModel(ListSide::Pc, app_->lib.pc, this);
  playerModel_ = new SongListModel(ListSide::Player, app_->lib.player, this);
  pcView_ = new SongListView(backdrop);
  playerView_ = new SongListView(backdrop);
  pcView_->setObjectName(QStringLiteral("List2"));
  playerView_->setObjectName(QStringLiteral("List3"));
  pcView_->setModel(pcModel_);
  playerView_->setModel(playerModel_);
  playerView_->setEnabled(false);
  for (SongListView* v : {pcView_, playerView_}) {
    v->dragAllowed = [this] { return !app_->cycle.busy; };
    v->setMinimumWidth(240);
  }
  pcCaption_ = new QLabel(backdrop);
  playerCaption_ = new QLabel(backdrop);
  for (QLabel* c : {pcCaption_, playerCaption_}) {
    QFont f = c->font();
    f.setBold(true);
    c->setFont(f);
    c->setTextFormat(Qt::PlainText);
  }
  grid->addWidget(pcCaption_, 1, 0);
  grid->addWidget(playerCaption_, 1, 2);
  grid->addWidget(pcView_, 2, 0);
  grid->addWidget(playerView_, 2, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(2, 1);

  // Between the lists: the arrows, and under them the connection status.
  auto* centre = new QVBoxLayout;
  centre->addStretch(2);
  arrows_ = new TransferArrows(backdrop);
  arrows_->canArm = [this](TransferArrows::Area a) { return CanArm(a == TransferArrows::Area::ToPlayer); };
  centre->addWidget(arrows_, 0, Qt::AlignHCenter);
  centre->addSpacing(18);
  statusPictureLabel_ = new QLabel(backdrop);
  statusPictureLabel_->setAlignment(Qt::AlignCenter);
  centre->addWidget(statusPictureLabel_, 0, Qt::AlignHCenter);
  // Under the connection, what is connected.
  mediumPictureLabel_ = new QLabel(backdrop);
  mediumPictureLabel_->setAlignment(Qt::AlignCenter);
  centre->addSpacing(6);
  centre->addWidget(mediumPictureLabel_, 0, Qt::AlignHCenter);
  centre->addStretch(3);
  grid->addLayout(centre, 2, 1);

  // Under the lists: the PC count; the medium and the player count.
  for (QLabel*& l : statusLabels_) {
    l = new QLabel(backdrop);
    l->setFont(SmallFont());
    l->setTextFormat(Qt::PlainText);
    l->setMinimumHeight(20);
  }
  grid->addWidget(statusLabels_[0], 3, 0);
  auto* under = new QHBoxLayout;
  under->setSpacing(10);
  under->addWidget(statusLabels_[2], 1);
  under->addWidget(statusLabels_[1]);
  grid->addLayout(under, 3, 2);
  statusLabels_[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusLabels_[1]->setMinimumWidth(90);

  // Under everything, while an MF4 or MF3 song plays: the player's screen.
  karaoke_ = new KaraokeView(backdrop);
  karaoke_->hide();
  grid->addWidget(karaoke_, 4, 0, 1, 3);

  hover_ = new HoverLabel(this);

  connect(pcView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) {
            // Only one list has a selection at a time.
            if (!selected.isEmpty() && !keepBothSelections_) {
              playerView_->clearSelection();
              playerView_->setCurrentIndex({});
            }
            UpdateSelectionMenu();
          });
  connect(playerView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) {
            if (!selected.isEmpty() && !keepBothSelections_) {
              pcView_->clearSelection();
              pcView_->setCurrentIndex({});
            }
            UpdateSelectionMenu();
          });
  connect(pcView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int c) { ColumnClicked(ListSide::Pc, c); });
  connect(playerView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int c) { ColumnClicked(ListSide::Player, c); });
  // Drops are taken up once the drag has ended, not inside it.
  connect(pcModel_, &SongListModel::songsDropped, this, [this](ListSide from) { SongsDropped(ListSide::Pc, from); },
          Qt::QueuedConnection);
  connect(playerModel_, &SongListModel::songsDropped, this,
          [this](ListSide from) { SongsDropped(ListSide::Player, from); }, Qt::QueuedConnection);
  connect(pcModel_, &SongListModel::filesDropped, this,
          [this](const QStringList& f) { FilesDropped(ListSide::Pc, f); }, Qt::QueuedConnection);
  connect(playerModel_, &SongListModel::filesDropped, this,
          [this](const QStringList& f) { FilesDropped(ListSide::Player, f); }, Qt::QueuedConnection);
  connect(pcView_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) { ShowFileInfo(i.row()); });
  connect(pcView_, &SongListView::deletePressed, this, [this] { DeleteKeyPressed(ListSide::Pc); });
  connect(playerView_, &SongListView::deletePressed, this, [this] { DeleteKeyPressed(ListSide::Player); });
  connect(arrows_, &TransferArrows::toPlayerClicked, this, [this] {
    if (!app_->cycle.busy) SendSelectionToPlayer();
  });
  connect(arrows_, &TransferArrows::toPcClicked, this, [this] {
    if (!app_->cycle.busy) BringSelectionToPc();
  });

  SetStatusPicture(statusPicture_);
  SetMediumPicture(QString());
  arrows_->SetArrows(QStringLiteral("FRECCENO"));
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  auto add = [this](QMenu* menu, int id, const char* key, const QString& icon = QString()) {
    QAction* a = menu->addAction(T(key));
    if (!icon.isEmpty()) {
      QIcon i = Icons::Icon(icon);
      if (!i.isNull()) a->setIcon(i);
    }
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_[id] = a;
    return a;
  };
  QMenu* file = bar->addMenu(T("MSG_MENU_FILE"));
  add(file, kImportFromPc, "MSG_MENU_IMPORT_FROM_PC", QStringLiteral("MENU_IMPORTAPC"));
  add(file, kToPlayerMenu, "MSG_MENU_FILE_PC_TO_ZUM");
  add(file, kToPcMenu, "MSG_MENU_FILE_ZUM_TO_PC");
  add(file, kDeleteMenu, "MSG_MENU_FILE_DELETE", QStringLiteral("MENU_ELIMINA"));
  add(file, kSearchMenu, "MSG_MENU_FILE_SEARCH", QStringLiteral("MENU_TROVA"));
  file->addSeparator();
  add(file, kSaveListCsv, "MSG_MENU_FILE_SAVE_DB", QStringLiteral("MENU_SALVA"));
  add(file, kPrintMenu, "MSG_MENU_FILE_PRINT", QStringLiteral("MENU_STAMPA"));
  file->addSeparator();
  add(file, kImportFromFloppy, "MSG_MENU_IMPORT_MF4_FROM_FDD");
  add(file, kExportToFloppy, "MSG_MENU_EXPORT_TO_FDD");
  file->addSeparator();
  add(file, kFormatCard, "MSG_MENU_FILE_FORMAT");
  add(file, kRegenerateIndexes, "MSG_MENU_FILE_INDEX_REGEN");
  add(file, kPlayerOptions, "MSG_MENU_FILE_OPTIONS");
  add(file, kUpdateFirmware, "MSG_MENU_FILE_UPDATE_ZUMBLA");
  file->addSeparator();
  add(file, kStopPlaybackMenu, "MSG_MENU_FILE_STOP");
  add(file, kSoundSettings, "MSG_MENU_FILE_SOUND");
  file->addSeparator();
  add(file, kExit, "MSG_MENU_FILE_EXIT");

  QMenu* help = bar->addMenu(T("MSG_MENU_HELP"));
  add(help, kHelpPage, "MSG_MENU_HELP_CONTENTS");
  help->addSeparator();
  add(help, kPlayerInformation, "MSG_MENU_HELP_ZUMBLA_INFO");
  add(help, kKestroInformation, "MSG_MENU_HELP_ZUMSOFT_INFO");
  help->addSeparator();
  BuildLanguageMenu(help->addMenu(T("MSG_MENU_LANGUAGE")));

  // The four pictures of the menu bar: import, delete, search, print. With
  // its picture an item shows nothing else; without it, its words.
  struct BarPicture {
    int id;
    const char* picture;
    const char* hoverKey;
  };
  const BarPicture pictures[] = {{kImportFromPc, "MENU_IMPORTAPC", "MSG_TOOLTIP_0"},
                                 {kDeleteBarPicture, "MENU_ELIMINA", "MSG_TOOLTIP_1"},
                                 {kSearchBarPicture, "MENU_TROVA", "MSG_TOOLTIP_2"},
                                 {kPrintBarPicture, "MENU_STAMPA", "MSG_TOOLTIP_3"}};
  for (const BarPicture& p : pictures) {
    QIcon icon = Icons::Icon(QString::fromLatin1(p.picture));
    QString hoverText = T(p.hoverKey);
    QAction* a = bar->addAction(icon.isNull() ? hoverText : QString());
    if (!icon.isNull()) {
      QString up = QString::fromLatin1(p.picture) + QStringLiteral("_UP");
      if (Icons::Has(up)) icon.addFile(Icons::ResourcePath(up), QSize(), QIcon::Active);
      a->setIcon(icon);
    }
    a->setStatusTip(hoverText);
    int id = p.id;
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    auto entry = FindCommand(id);
    a->setEnabled(entry && ActionAvailable(entry->action));
    // Where the file menu has the same command, its item stands for it.
    if (!actions_.count(id)) actions_[id] = a;
    barPictures_.emplace_back(a, hoverText);
  }

  // The commands whose windows come later stay disabled.
  for (auto& [id, action] : actions_) {
    auto entry = FindCommand(id);
    if (!entry || !ActionAvailable(entry->action)) action->setEnabled(false);
  }
}

QAction* MainWindow::ActionFor(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

// --- Creation ---

void MainWindow::Prepare() {
  Env& e = env_;
  library::Library& lib = app_->lib;
  // The PC song folder is the current directory from here on.
  library::PcFolders folders = library::ReadPcFolders(e);
  std::error_code ec;
  fs::current_path(e.installDir, ec);
  lib.pcFolder = folders.oldMf4;
  fs::current_path(lib.pcFolder, ec);
  lib.flashDrive = e.GetText(settings::kFlashDrive);
  library::MergeNewSongs(e);

  ApplyListWidths();
  QStringList titles;
  for (int c = 0; c < SongListModel::kColumns; ++c) titles << FromLatin1(e.dict.GetNumberedText("MSG_COLUMN_TITLE", c));
  pcModel_->SetColumnTitles(titles);
  playerModel_->SetColumnTitles(titles);
  arrows_->SetTips(T("MSG_MENU_FILE_PC_TO_ZUM"), T("MSG_MENU_FILE_ZUM_TO_PC"));

  // The first reload of the PC list now, so that the window opens with it.
  CheckNewSongs();
  app_->cycle.ShowMediumInfo();
  UpdateMenuStates();
  UpdateSelectionMenu();
  UpdateStatusLines();
  UpdateListCaptions();
}

void MainWindow::ApplyListWidths() {
  library::ListWidths w = library::LoadListWidths(env_.profile);
  int pcWidth = 0, playerWidth = 0;
  std::vector<int> pc, player;
  for (int c = 0; c < SongListModel::kColumns; ++c) {
    pc.push_back(w.pc[static_cast<size_t>(c)]);
    player.push_back(w.player[static_cast<size_t>(c)]);
    pcWidth += pc.back();
    playerWidth += player.back();
  }
  pcView_->SetPreferredWidths(pc);
  playerView_->SetPreferredWidths(player);
  // Wide enough to show every column, as far as the screen allows.
  const int frame = 2 * pcView_->frameWidth() + pcView_->verticalScrollBar()->sizeHint().width() + 2;
  const int centre = std::max(arrows_->sizeHint().width(), 48) + 2 * kListSpacing;
  int wanted = pcWidth + playerWidth + 2 * frame + centre + 24;
  int high = 700;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect avail = screen->availableGeometry();
    wanted = std::min(wanted, avail.width() * 96 / 100);
    high = std::min(high, avail.height() * 90 / 100);
  }
  resize(std::max(wanted, 760), std::max(high, 480));
}

void MainWindow::StartTimers() {
  raiseTimer_.start(kRaiseMs);
  mainTimer_.start(kMainTickMs);
  hoverTimer_.start();
}

void MainWindow::StopTimers() {
  mainTimer_.stop();
  hoverTimer_.stop();
  raiseTimer_.stop();
}

// --- Timers ---

void MainWindow::RaiseTick() {
  setWindowTitle(QStringLiteral("Kestro"));
  raise();
}

void MainWindow::HoverTick() {
  QPoint global = QCursor::pos();
  QMenuBar* bar = menuBar();
  QAction* over = bar->isVisible() ? bar->actionAt(bar->mapFromGlobal(global)) : nullptr;
  for (auto& [action, text] : barPictures_) {
    if (action != over || !action->isVisible()) continue;
    QRect r = bar->actionGeometry(action);
    hover_->ShowAt(text, bar->mapTo(this, r.bottomLeft()) + QPoint(0, 4));
    return;
  }
  if (internet_->isVisible() && internet_->rect().contains(internet_->mapFromGlobal(global))) {
    hover_->ShowAt(T("MSG_TOOLTIP_4"), internet_->mapTo(this, internet_->rect().bottomLeft()) + QPoint(0, 4));
    return;
  }
  hover_->hide();
}

bool MainWindow::CheckNewSongs() {
  ConnectionCycle& cycle = app_->cycle;
  if (env_.GetInt(settings::kNewSongs) == 0 && !tick.newSongsPending) return false;
  cycle.busy = true;
  tick.newSongsPending = false;
  env_.WriteInt(settings::kNewSongs, 0);
  app_->lib.ReloadPcList();
  cycle.busy = false;
  RefreshListViews();
  return true;
}

void MainWindow::MainTick() {
  ConnectionCycle& cycle = app_->cycle;
  ++tick.liveness;
  env_.WriteInt(settings::kKestroActive, tick.liveness);
  if (closed_) return;
  if (cycle.busy) return;
  if (closeAfterOperation_) {
    close();
    return;
  }
  SaveScrollRows();
  CheckNewSongs();
  if (env_.GetInt(settings::kKestroShutdown) != 0) close();
  if (tick.messageCountdown == 0) env_.ui.CloseGeneralMessage();
  --tick.messageCountdown;
  if (cycle.currentMedium != -1) tick.messageCountdown = 3;
  if (cycle.firstConnectionState == 0 && cycle.newReading != -1 && !closed_) {
    cycle.firstConnectionState = 1;
    // Modal: the next ticks run while it is open, and one of them closes it.
    env_.ui.ShowGeneralMessage(env_.T("MSG_FIRST_CONNECTION"), env_.T("MSG_CONNECTION_CAPTION"), "phone");
  }
  cycle.ConnectMedia();
  if (cycle.firstConnectionState == 1) cycle.firstConnectionState = 2;
  if (cycle.reprogramRequest) {
    QMetaObject::invokeMethod(this, [this] { OnCommand(kUpdateFirmware); }, Qt::QueuedConnection);
  }
  UpdateMenuStates();
}

void MainWindow::UpdateMenuStates() {
  const ConnectionCycle& cycle = app_->cycle;
  for (auto [id, enabled] : MenuStates(cycle.currentMedium, cycle.newReading, env_.GetInt(settings::kWebUpdate) != 0)) {
    QAction* a = ActionFor(id);
    auto entry = FindCommand(id);
    if (a) a->setEnabled(enabled && entry && ActionAvailable(entry->action));
  }
}

void MainWindow::UpdateSelectionMenu() {
  QAction* a = ActionFor(kExportToFloppy);
  auto entry = FindCommand(kExportToFloppy);
  if (a && entry) {
    bool selection = pcView_->selectionModel() && pcView_->selectionModel()->hasSelection();
    a->setEnabled(selection && ActionAvailable(entry->action));
  }
}

// --- The connection cycle's view ---

void MainWindow::SetStatusPicture(const QString& name) {
  statusPicture_ = name;
  QPixmap pm = Icons::Pixmap(name, {}, devicePixelRatioF());
  if (pm.isNull()) {
    // Without the pictures a word says what the picture would.
    static const std::map<QString, QString> words = {{QStringLiteral("STATUSOFF"), QStringLiteral("-")},
                                                     {QStringLiteral("STATUSOK"), QStringLiteral("OK")},
                                                     {QStringLiteral("STATUSBUSY"), QStringLiteral("...")},
                                                     {QStringLiteral("STATUSBOOT"), QStringLiteral("BOOT")}};
    auto it = words.find(name);
    statusPictureLabel_->setPixmap({});
    statusPictureLabel_->setText(it == words.end() ? QString() : it->second);
  } else {
    statusPictureLabel_->setPixmap(pm);
  }
}

void MainWindow::SetMediumPicture(const QString& name) {
  mediumPicture_ = name;
  QPixmap pm = name.isEmpty() ? QPixmap() : Icons::Pixmap(name, {}, devicePixelRatioF());
  mediumPictureLabel_->setPixmap(pm);
  mediumPictureLabel_->setVisible(!pm.isNull());
}

void MainWindow::ShowPlayerStatus(int reading) {
  if (reading != 4) reprogramAsked_ = false;
  UpdateListCaptions();
  switch (reading) {
    case 1:
    case 2:
      SetStatusPicture(QStringLiteral("STATUSOK"));
      SetMediumPicture(reading == 1 ? QStringLiteral("ZUMFLASH") : QStringLiteral("ZUMBLAICO"));
      break;
    case 3:
      SetStatusPicture(QStringLiteral("STATUSBUSY"));
      break;
    case 4:
      SetStatusPicture(QStringLiteral("STATUSBOOT"));
      // Asked once while the player waits; a refusal is not asked again
      // every tick.
      if (!app_->cycle.reprogramRequest && !reprogramAsked_) {
        reprogramAsked_ = true;
        if (env_.ui.ShowMessage(env_.T("ZUMBLA_REPROG"), env_.T("ZUMBLA_REPROG_TITLE"),
                                mb::kOkCancel | mb::kIconStop) == kIdOk)
          app_->cycle.reprogramRequest = true;
      }
      break;
    case -1:
      SetStatusPicture(QStringLiteral("STATUSOFF"));
      SetMediumPicture(QString());
      break;
    default:
      break;
  }
}

void MainWindow::SetCentralArrows(int medium, Transport transport) {
  if (medium == -1) arrows_->SetArrows(QStringLiteral("FRECCENO"));
  else if (medium == 2 && transport == Transport::Ftdi) arrows_->SetArrows(QStringLiteral("FRECCENOLEFT"));
  else arrows_->SetArrows(QStringLiteral("FRECCE"));
}

void MainWindow::ClearPlayerListView() { playerModel_->Reload(); }

void MainWindow::RefreshListViews() {
  ConnectionCycle& cycle = app_->cycle;
  app_->lib.RefreshLists(cycle.PlayerReady());
  pcModel_->Reload();
  playerModel_->Reload();
  playerView_->setEnabled(cycle.PlayerReady() && !app_->lib.moduleError);
  ApplySortIndicators();
  RestoreScrollRows();
  UpdateStatusLines();
  UpdateListCaptions();
  UpdateSelectionMenu();
  if (cycle.firstConnectionState == 2) {
    env_.ui.CloseGeneralMessage();
    cycle.firstConnectionState = 3;
  }
}

void MainWindow::ApplySortIndicators() {
  library::SortOrder order = library::LoadSortOrder(env_.profile);
  auto apply = [](SongListView* v, int column, int descending) {
    QHeaderView* h = v->horizontalHeader();
    if (column < 0 || column >= SongListModel::kColumns) {
      h->setSortIndicator(-1, Qt::AscendingOrder);
    } else {
      h->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
  };
  apply(pcView_, order.pcColumn, order.pcDescending);
  apply(playerView_, order.playerColumn, order.playerDescending);
}

void MainWindow::SaveScrollRows() {
  pcScroll_ = pcView_->verticalScrollBar()->value();
  playerScroll_ = playerView_->verticalScrollBar()->value();
}

void MainWindow::RestoreScrollRows() {
  if (pcScroll_) pcView_->verticalScrollBar()->setValue(*pcScroll_);
  if (playerScroll_) playerView_->verticalScrollBar()->setValue(*playerScroll_);
}

void MainWindow::UpdateListCaptions() {
  pcCaption_->setText(T("MSG_LIST_CAPTION_PC"));
  const char* key = "MSG_MESSAGE_CF6";
  if (app_->cycle.newReading == 3) key = "MSG_LIST_CAPTION_BUSY";
  if (app_->cycle.newReading == 4) key = "MSG_LIST_CAPTION_BOOT";
  if (app_->cycle.PlayerReady()) {
    switch (app_->cycle.currentMedium) {
      case 0: key = "MSG_LIST_CAPTION_READER"; break;
      case 1: key = "MSG_LIST_CAPTION_CARD"; break;
      case 2: key = "MSG_LIST_CAPTION_RAM"; break;
      default: break;
    }
  }
  playerCaption_->setText(T(key));
}

QString MainWindow::PlayerCaption() const { return playerCaption_->text(); }

QString MainWindow::StatusLineShown(int slot) const {
  return slot >= 0 && slot < 3 && statusLabels_[slot] ? statusLabels_[slot]->text() : QString();
}

void MainWindow::UpdateStatusLines() {
  const Ui& ui = env_.ui;
  const QString abortText = T("MSG_ABORT");
  auto show = [&](QLabel* label, int line) {
    QString text = FromLatin1(ui.StatusLine(line));
    bool red = ui.AbortRequested() && text == abortText;
    label->setText(text);
    label->setStyleSheet(red ? QStringLiteral("color: red;") : QString());
  };
  show(statusLabels_[0], 0);
  show(statusLabels_[1], 1);
  show(statusLabels_[2], app_->cycle.currentMedium == 2 ? 3 : 2);
}

// --- The lists ---

void MainWindow::CopySelectionToRecords() {
  auto copy = [](SongListView* view, library::SongList& list) {
    for (auto& r : list) r.selected = false;
    for (int rec : view->SelectedRecords()) {
      if (rec >= 0 && static_cast<size_t>(rec) < list.size()) list[static_cast<size_t>(rec)].selected = true;
    }
  };
  copy(pcView_, app_->lib.pc);
  copy(playerView_, app_->lib.player);
}

void MainWindow::ColumnClicked(ListSide side, int column) {
  library::SortOrder order = library::LoadSortOrder(env_.profile);
  int& sortColumn = side == ListSide::Pc ? order.pcColumn : order.playerColumn;
  int& descending = side == ListSide::Pc ? order.pcDescending : order.playerDescending;
  library::ClickColumn(sortColumn, descending, column);
  library::SaveSortOrder(env_.profile, order);
  (side == ListSide::Pc ? pcModel_ : playerModel_)->Sort(sortColumn, descending != 0);
  ApplySortIndicators();
}

void MainWindow::SongsDropped(ListSide target, ListSide from) {
  if (target == from || closed_) return;
  if (app_->cycle.busy) {
    // Dropped while a tick of the connection cycle works: the songs go once
    // it is done.
    QTimer::singleShot(kRetryDropMs, this, [this, target, from] { SongsDropped(target, from); });
    return;
  }
  if (target == ListSide::Player) SendSelectionToPlayer();
  else BringSelectionToPc();
}

void MainWindow::SendSelectionToPlayer() {
  CopySelectionToRecords();
  app_->lib.outcomes.clear();
  TransferToPlayer(*app_);
  ReportLostLink(*app_);
}

void MainWindow::BringSelectionToPc() {
  CopySelectionToRecords();
  app_->lib.outcomes.clear();
  TransferToPc(*app_);
  ReportLostLink(*app_);
}

void MainWindow::FilesDropped(ListSide target, const QStringList& files) {
  if (files.isEmpty() || closed_) return;
  if (app_->cycle.busy) {
    QTimer::singleShot(kRetryDropMs, this, [this, target, files] { FilesDropped(target, files); });
    return;
  }
  std::vector<fs::path> paths;
  for (const QString& f : files) paths.emplace_back(ToPath(f));
  FileImport(*app_).ImportDropped(paths, target == ListSide::Player);
}

void MainWindow::DeleteKeyPressed(ListSide side) {
  if (app_->cycle.busy) return;
  CopySelectionToRecords();
  if (side == ListSide::Pc) {
    DeletePcSelection(*app_);
  } else if (app_->cycle.PlayerReady()) {
    OnCommand(kDeleteBarPicture);
  } else {
    app_->RequirePlayerReady();
  }
}

// --- Picture buttons ---

bool MainWindow::CanArm(bool toPlayer) const {
  const ConnectionCycle& cycle = app_->cycle;
  if (cycle.currentMedium == -1) return false;
  if (toPlayer && cycle.currentMedium == 2 && app_->link.transport == Transport::Ftdi) return false;
  return true;
}

void MainWindow::OpenServerPage() {
  if (app_->cycle.busy) return;
  QString server = FromLatin1(env_.GetText(settings::kServerPath));
  QUrl url = QUrl::fromUserInput(server);
  if (url.isValid()) openUrl(url);
}

// --- Commands ---

bool MainWindow::OnCommand(int id) {
  auto entry = FindCommand(id);
  if (!entry || !ActionAvailable(entry->action)) return false;
  if (entry->guard != Guard::None && app_->cycle.busy) return false;
  RunAction(entry->action);
  return true;
}

void MainWindow::RunAction(Action action) {
  App& app = *app_;
  switch (action) {
    case Action::Delete:
      CopySelectionToRecords();
      DeleteSelection(app);
      break;
    case Action::VersionText:
      ShowVersion(env_);
      break;
    case Action::SelectAllPc:
      pcView_->SelectAllRows();
      break;
    case Action::TransferToPc:
      BringSelectionToPc();
      break;
    case Action::TransferToPlayer:
      SendSelectionToPlayer();
      break;
    case Action::FormatCard:
      FormatCardCommand(app);
      break;
    case Action::RegenerateIndexes:
      RegenerateCardIndexes(app);
      break;
    case Action::UpdateFirmware:
      UpdateFirmware();
      break;
    case Action::Exit:
      close();
      break;
    case Action::ClearBusy:
      app.cycle.busy = false;
      break;
    case Action::PlayerInformation:
      ShowSystemInfo();
      break;
    case Action::KestroInformation: {
      BusyScope busy(app.cycle);
      ShowSplash(kAboutSplashMs);
      break;
    }
    case Action::ImportFromPc:
      FileImport(app).ImportFromPc();
      break;
    case Action::StopPlayback:
      StopSong(app);
      break;
    case Action::SoundSettings:
      OpenSoundSettings(app, app.starter);
      break;
    case Action::ExportToFloppy:
      CopySelectionToRecords();
      app.lib.outcomes.clear();
      SaveSongsToFloppy(app);
      break;
    case Action::ImportFromFloppy:
      app.lib.outcomes.clear();
      LoadSongsFromFloppy(app);
      break;
    case Action::SaveListCsv:
      ExportList();
      break;
    case Action::HelpPage:
      OpenHelpPage();
      break;
    case Action::Search:
      ShowSearchDialog();
      break;
    case Action::Print:
      PrintLists();
      break;
    case Action::PlayerOptions:
      ShowPlayerOptions();
      break;
  }
}

void MainWindow::ShowSplash(int ms) {
  if (ms > 0) splashDisplayMs_ = ms;
  if (splash_) splash_->close();
  splash_ = new Splash(T("MSG_VERSION"), splashDisplayMs_, this);
  splash_->show();
  splash_->raise();
}

// The dictionary is read once at start-up, so a new language shows from the
// next start; the choice is kept at once.
void MainWindow::BuildLanguageMenu(QMenu* menu) {
  auto* group = new QActionGroup(menu);
  const std::string current = CurrentLanguage(env_.profile);
  const std::pair<std::string_view, const char*> choices[] = {{kItalian, "MSG_LANGUAGE_ITALIANO"},
                                                              {kEnglish, "MSG_LANGUAGE_ENGLISH"}};
  for (const auto& [language, key] : choices) {
    QAction* a = menu->addAction(T(key));
    a->setCheckable(true);
    a->setChecked(current == language);
    a->setData(QString::fromLatin1(language.data(), static_cast<int>(language.size())));
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] {
      const std::string chosen = a->data().toString().toStdString();
      if (chosen == CurrentLanguage(env_.profile)) return;
      if (!SetLanguage(env_.profile, chosen)) {
        ReportWriteError(env_, env_.profile.Path().string());
        return;
      }
      env_.ui.ShowMessage(env_.T("MSG_LANGUAGE_NEXT_START"), env_.T("MSG_MENU_LANGUAGE"), mb::kIconInformation);
    });
  }
}

void MainWindow::ShowSystemInfo() {
  BusyScope busy(app_->cycle);
  // The release as major.minor, as the player's own release is shown.
  const std::string version = kKestroVersion;
  std::string text = "Kestro release " + version.substr(0, version.rfind('.')) + "\n\n";
  ZumblaInfo info;
  if (app_->player.GetZumblaInfo(info)) text += env_.TF("MSG_ZUMBLA_OSVER", info.Release());
  // The player's card as it identified itself when it was mounted.
  if (app_->cycle.currentMedium == 1 && app_->card.Mounted()) {
    const auto& id = app_->card.Volume().identify;
    auto word = [&id](size_t w) { return static_cast<uint32_t>(id[2 * w] | id[2 * w + 1] << 8); };
    auto idText = [&id](size_t offset, size_t size) {
      std::string t(reinterpret_cast<const char*>(id.data() + offset), size);
      t = t.substr(0, t.find('\0'));
      size_t b = t.find_first_not_of(' '), e = t.find_last_not_of(' ');
      return b == std::string::npos ? std::string("-") : t.substr(b, e - b + 1);
    };
    const uint64_t sectors = static_cast<uint64_t>(word(7)) << 16 | word(8);
    text += env_.TF("MSG_CARD_IDENTIFICATION", idText(54, 40), idText(20, 20),
                    static_cast<int>(sectors * 512 / (1024 * 1024)));
  }
  env_.ui.ShowMessage(text, "System Info", mb::kIconInformation);
}

void MainWindow::UpdateFirmware() {
  ConnectionCycle& cycle = app_->cycle;
  if (cycle.currentMedium == 0) return;
  if (cycle.currentMedium == -1 && env_.GetInt(settings::kWebUpdate) != 0 && cycle.newReading == -1) return;
  {
    BusyScope busy(cycle);
    cycle.linkStreak = 0;
    app_->firmware.UpdateFirmware();
    cycle.reprogramRequest = false;
  }
  UpdateMenuStates();
}

// --- Search ---

library::SongList MainWindow::ViewOrder(ListSide side) const {
  const SongListModel* model = side == ListSide::Pc ? pcModel_ : playerModel_;
  library::SongList out;
  out.reserve(static_cast<size_t>(model->rowCount()));
  for (int row = 0; row < model->rowCount(); ++row) {
    if (const library::SongRecord* r = model->RecordOfRow(row)) out.push_back(*r);
  }
  return out;
}

void MainWindow::ShowSearchDialog() {
  SearchDialog dialog(*this);
  dialog.exec();
}

void MainWindow::FindNextMatch(const std::string& text) {
  pcView_->clearSelection();
  playerView_->clearSelection();
  library::SearchHit hit{};
  switch (library::FindNext(searchState, ViewOrder(ListSide::Pc), ViewOrder(ListSide::Player), text, &hit)) {
    case library::SearchOutcome::NoListChecked:
      env_.ui.ShowMessage(env_.T("MSG_SEARCH_SPECIFY_AT_LEAST_A_LIST"), env_.T("MSG_CAPTION_WARNING"),
                          mb::kIconExclamation);
      return;
    case library::SearchOutcome::NotFound:
      env_.ui.ShowMessage(env_.T("MSG_SEARCH_TEXT_NOT_FOUND"), env_.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
      return;
    case library::SearchOutcome::Found:
      break;
  }
  SongListView* view = hit.list == 0 ? pcView_ : playerView_;
  QModelIndex index = view->model()->index(hit.row, 0);
  view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

bool MainWindow::SelectAllMatches(const std::string& text) {
  pcView_->clearSelection();
  playerView_->clearSelection();
  std::vector<int> pcRows, playerRows;
  if (library::SelectAllMatches(searchState, ViewOrder(ListSide::Pc), ViewOrder(ListSide::Player), text, &pcRows,
                                &playerRows) == library::SearchOutcome::NoListChecked) {
    env_.ui.ShowMessage(env_.T("MSG_SEARCH_SPECIFY_AT_LEAST_A_LIST"), env_.T("MSG_CAPTION_WARNING"),
                        mb::kIconExclamation);
    return false;
  }
  keepBothSelections_ = true;
  auto select = [](SongListView* view, const std::vector<int>& rows) {
    QItemSelection sel;
    for (int row : rows) sel.select(view->model()->index(row, 0), view->model()->index(row, SongListModel::kColumns - 1));
    view->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty()) {
      view->selectionModel()->setCurrentIndex(view->model()->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
      view->scrollTo(view->model()->index(rows.front(), 0));
    }
  };
  select(pcView_, pcRows);
  select(playerView_, playerRows);
  keepBothSelections_ = false;
  if (!playerRows.empty() && pcRows.empty()) searchState.currentList = 1;
  if (!pcRows.empty()) searchState.currentList = 0;
  return true;
}

void MainWindow::FocusSearchedList() { (searchState.currentList == 0 ? pcView_ : playerView_)->setFocus(); }

// --- Export and print ---

void MainWindow::ExportList() {
  BusyScope busy(app_->cycle);
  library::ExportCsv(env_, app_->lib.pc, app_->lib.player, app_->cycle.currentMedium, app_->lib.pcFolder.string());
}

void MainWindow::PrintLists() {
  BusyScope busy(app_->cycle);
  const int medium = app_->cycle.currentMedium;
  // Laid out in dots of a 300 dpi printer, as the command line's PDF.
  QPrinter printer(QPrinter::HighResolution);
  printer.setResolution(300);
  printer.setPageSize(QPageSize(QPageSize::A4));
  PrintChoice choice;
  if (answerPrint) {
    auto c = answerPrint(printer);
    if (!c) return;
    choice = *c;
  } else {
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(T("MSG_MENU_FILE_PRINT"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintSelection |
                      QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies);
    // Which list: the PC's, or the player's (checked).
    auto* lists = new QGroupBox(T("MSG_PRINT_WHICH_LIST"), &dialog);
    auto* row = new QHBoxLayout(lists);
    auto* pc = new QRadioButton(QStringLiteral("Kestro"), lists);
    auto* player = new QRadioButton(medium == 2 ? QStringLiteral("Zumbla") : QStringLiteral("Compact Flash"), lists);
    pc->setObjectName(QStringLiteral("printPcList"));
    player->setObjectName(QStringLiteral("printPlayerList"));
    player->setChecked(true);
    row->addWidget(pc);
    row->addWidget(player);
    row->addStretch(1);
    if (auto* box = qobject_cast<QBoxLayout*>(dialog.layout())) {
      box->insertWidget(std::max(0, box->count() - 1), lists);
    } else {
      dialog.setOptionTabs({lists});
    }
    if (dialog.exec() != QDialog::Accepted) return;
    choice.pcList = pc->isChecked();
    choice.selectionOnly = dialog.printRange() == QAbstractPrintDialog::Selection;
  }
  CopySelectionToRecords();
  auto print = library::PrepareListPrint(env_, ViewOrder(choice.pcList ? ListSide::Pc : ListSide::Player),
                                         choice.pcList, medium, choice.selectionOnly);
  if (!print) return;
  printer.setDocName(FromLatin1(print->documentName));
  env_.ui.BeginWaitCursor();
  int pages = PrintListOn(printer, print->job);
  env_.ui.EndCursor();
  if (pages == 0) {
    std::string where = printer.outputFileName().isEmpty() ? printer.printerName().toStdString()
                                                           : ToPath(printer.outputFileName());
    env_.ui.ShowMessage(env_.TF("MSG_CANTCREATE", where), env_.T("MSG_WRITEERROR"), mb::kIconStop);
  }
}

// --- Song information ---

void MainWindow::ShowFileInfo(int row) {
  if (app_->cycle.busy || closed_) return;
  const library::SongRecord* rec = pcModel_->RecordOfRow(row);
  if (!rec) return;
  const std::string fileName = rec->fileName;
  bool written = false;
  {
    BusyScope busy(app_->cycle);
    auto texts = FileInfoDialog::ReadTexts(env_, fileName);
    if (!texts) return;
    FileInfoDialog dialog(env_, fileName, *texts, this);
    dialog.exec();
    written = dialog.Written();
  }
  // The record shows the texts the file holds now.
  library::SongList& pc = app_->lib.pc;
  for (library::SongRecord& r : pc) {
    if (r.fileName != fileName) continue;
    if (written) r.infoEdited = true;
    if (auto head = ReadBinaryFile(fileName)) {
      head->resize(std::min(head->size(), library::kSongHeadBytes));
      library::ReadSongTexts(r, head->data(), head->size());
    }
  }
  RefreshListViews();
  for (size_t i = 0; i < pc.size(); ++i) {
    if (pc[i].fileName != fileName) continue;
    int shown = pcModel_->RowOf(static_cast<int>(i));
    if (shown < 0) break;
    QModelIndex index = pcModel_->index(shown, 0);
    pcView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    pcView_->scrollTo(index);
    pcView_->setFocus();
    break;
  }
}

// --- The player's options ---

void MainWindow::ShowPlayerOptions() {
  ConnectionCycle& cycle = app_->cycle;
  if (cycle.currentMedium == -1) return;
  BusyScope busy(cycle);
  if (!app_->RequirePlayerReady()) return;
  if (cycle.currentMedium == 1 && app_->link.linkErrorState != 0) return;
  auto record = LoadSetupRecord(*app_);
  // A record that cannot be read whole is not shown.
  if (!record) return;
  OptionsDialog dialog(env_, *record, this);
  if (dialog.exec() == QDialog::Accepted) SaveSetupRecord(*app_, dialog.Record());
}

// --- Help and the desktop ---

void MainWindow::OpenHelpPage() {
  fs::path install = env_.profile.GetString("PATH", "Installpath", ".");
  // The page of the dictionary's language, else the first one.
  fs::path page = install / "Kestro.html";
  if (env_.dict.Language() == "ENGLISH" && fs::exists(install / "Kestro_en.html")) page = install / "Kestro_en.html";
  if (!fs::exists(page)) {
    env_.ui.ShowMessage(env_.TF("MSG_CANTOPEN", page.string()), env_.T("MSG_READERROR"), mb::kIconStop);
    return;
  }
  openUrl(QUrl::fromLocalFile(FromPath(fs::absolute(page).string())));
}

// --- Playback ---

void MainWindow::PlayPressed() {
  if (app_->cycle.busy || closed_) return;
  CopySelectionToRecords();
  PlaySelectedPcSong(*app_);
}

void MainWindow::ShowPlayControls(bool playing) {
  // PLAY stays usable (a second song replaces the first); STOP only while
  // something plays.
  play_->setEnabled(true);
  stop_->setEnabled(playing);
  if (QAction* a = ActionFor(kStopPlaybackMenu)) a->setEnabled(playing);
  if (playing) {
    if (!playTimer_.isActive()) playTimer_.start();
    return;
  }
  playTimer_.stop();
  karaoke_->SetSong(nullptr);
  karaoke_->hide();
}

void MainWindow::FollowPlayback() {
  Playback& playback = app_->playback;
  if (playback.Ended()) {
    StopSong(*app_);
    return;
  }
  // The song's screen is there once its sound has started.
  std::shared_ptr<const KaraokeTimeline> song = playback.Karaoke();
  if (song != karaoke_->Song()) {
    karaoke_->SetSong(song);
    karaoke_->setVisible(song != nullptr);
  }
  if (song) karaoke_->ShowAt(playTime_ ? playTime_() : playback.PositionSeconds());
}

// --- Closing ---

void MainWindow::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (app_->cycle.busy && env_.ui.Progress().open) {
    // An operation is running: it stops at its next song, then the window
    // closes. Nothing it has half done is left behind.
    closeAfterOperation_ = true;
    env_.ui.RequestAbort(env_.T("MSG_ABORT"));
    event->ignore();
    return;
  }
  closed_ = true;
  StopTimers();
  StopSong(*app_);
  hover_->hide();
  env_.ui.CloseGeneralMessage();
  if (splash_) splash_->close();
  event->accept();
  emit closed();
}

}  // namespace kestro::gui
