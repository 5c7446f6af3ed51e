// The only way the core talks to the user. The Qt window, the terminal and the
// tests each implement the few virtual hooks; the rules that every front end
// shares (style word, result codes, progress and cursor state) live here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Style word of a message box: low four bits the buttons, bits 4-7 the icon.
namespace mb {
inline constexpr uint32_t kOk = 0x0;
inline constexpr uint32_t kOkCancel = 0x1;
inline constexpr uint32_t kYesNoCancel = 0x3;
inline constexpr uint32_t kYesNo = 0x4;
inline constexpr uint32_t kIconStop = 0x10;
inline constexpr uint32_t kIconQuestion = 0x20;
inline constexpr uint32_t kIconExclamation = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;
inline constexpr uint32_t kDefButton2 = 0x100;
inline constexpr uint32_t kSystemModal = 0x1000;
}  // namespace mb

// Result codes of a message box.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class Buttons { Ok, OkCancel, YesNoCancel, YesNo };
enum class Picture { Stop, Question, Exclamation, Information };

Buttons ButtonsForStyle(uint32_t style);
Picture PictureForStyle(uint32_t style);
// True when the style offers more than one button, i.e. asks something.
bool IsQuestion(uint32_t style);

// Which kind of box shows a message: the program's own message dialog, or a
// plain system box where the program uses one (start-up, loaders, a few
// questions of the MIDI tools, harvo and the uninstaller).
enum class BoxKind { Program, System };

struct MessageRequest {
  BoxKind kind = BoxKind::Program;
  std::string text;
  std::string caption;
  uint32_t style = 0;
  std::string checkText;  // non-empty: a check box with this text is shown
  bool checkState = false;
};

// Geometry of the program's message dialog, from its text and style.
struct MessageLayout {
  std::vector<std::string> lines;  // at most 11, each at most 99 characters
  int width = 0;
  int height = 0;
  struct Button {
    bool visible = false;
    std::string label;  // a message key: "MSG_OK", "MSG_YES", ...
    int left = 0, right = 0, top = 0, bottom = 0;
  };
  Button b1, b2, b3;
};
// textWidth gives the drawn width of one line in pixels.
MessageLayout LayoutMessage(std::string_view text, uint32_t style,
                            const std::function<int(std::string_view)>& textWidth);
// The split into line slots alone.
std::vector<std::string> SplitMessageLines(std::string_view text);
// The result of pressing button 1, 2 or 3, given button 1's label and the
// text of "MSG_OK" (button 1 gives OK only when it is labelled OK).
int ResultForButton(int button, std::string_view b1Label, std::string_view okText);

struct ProgressState {
  bool open = false;     // the window exists
  bool active = false;   // `progress active`
  bool counted = false;  // `counted mode`
  bool abort = false;    // `abort requested`
  std::string pendingTitle;
  std::string caption;
  int position = 0;
  int rangeMax = 0;
  std::string line1, line2;
};

enum class Cursor { Normal, Wait, Copy, NoDrop };

struct OpenFileRequest {
  std::string folder;       // initial folder
  std::string filterName;   // "Tutti i Formati Compatibili"
  std::string patterns;     // "*.MID;*.KAR"
  std::string title;
  std::string defaultExt;
  std::string initialName;
  bool multiple = false;
  bool mustExist = true;
};
struct OpenFileResult {
  std::string folder;              // the folder the user ended in
  std::vector<std::string> files;  // full paths
};

struct SaveFileRequest {
  std::string initialName;
  std::string filterName;
  std::string patterns;
  std::string title;
  std::string defaultExt;
  std::string folder;
  // Optional pair of radio buttons added under the dialog (the list export
  // and the print choose the PC list or the player list this way).
  std::vector<std::string> radioLabels;
  int radioChecked = -1;
};
struct SaveFileResult {
  std::string path;
  int radioChecked = -1;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // --- Message boxes ---
  // The program's own message dialog; returns 1, 2, 6 or 7.
  int ShowMessage(std::string_view text, std::string_view caption, uint32_t style);
  // A plain system message box.
  int SystemMessage(std::string_view text, std::string_view caption, uint32_t style);
  // The optional check box of the next ShowMessage.
  void SetMessageCheckText(std::string_view text) { checkText_ = std::string(text); }
  void SetMessageCheckState(bool on) { checkState_ = on; }
  bool MessageCheckState() const { return checkState_; }

  // Self-closing notice window.
  virtual void ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view picture) = 0;
  virtual void CloseGeneralMessage() = 0;

  // --- Progress window ---
  void SetProgressTitle(std::string_view title);
  void ProgressStart(int count);
  void ProgressStartCounted(int count);
  void ProgressReset(int count);
  void ProgressStep(int n = 1);
  void ProgressStepCounted(int n = 1);
  void ProgressLine1(std::string_view text);
  void ProgressLine2(std::string_view text);
  void ProgressEnd();
  void PumpProgressMessages() { PumpMessages(); }
  bool AbortRequested() const { return progress_.abort; }
  void ClearAbort() { progress_.abort = false; }
  // The user closed the progress window: `abortText` is the text of "MSG_ABORT".
  void RequestAbort(std::string_view abortText);
  const ProgressState& Progress() const { return progress_; }

  // --- Status lines 0-3 of the main window ---
  void SetStatusLine(int line, std::optional<std::string_view> text);
  std::string StatusLine(int line) const;

  // --- File choosers ---
  virtual std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest& req) = 0;
  virtual std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest& req) = 0;

  // --- Cursors (an override set by Begin..., restored by EndCursor) ---
  void BeginWaitCursor() { BeginCursor(Cursor::Wait); }
  void BeginCopyCursor() { BeginCursor(Cursor::Copy); }
  void BeginNoDropCursor() { BeginCursor(Cursor::NoDrop); }
  void EndCursor();
  Cursor CurrentCursor() const { return cursor_; }

  // --- Window messages ---
  // Lets windows repaint and the user press buttons during long work.
  virtual void PumpMessages() {}
  // Repaints the main window after a visible change.
  virtual void Repaint() {}

 protected:
  // Shows a message box and waits for the answer; may change req.checkState.
  virtual int DoMessage(MessageRequest& req) = 0;
  virtual void OnProgressChanged() {}
  // A progress step was taken (also when the bar is already full).
  virtual void OnProgressStep(int /*n*/) {}
  virtual void OnStatusLine(int /*line*/) {}
  virtual void OnCursor(Cursor /*cursor*/) {}

  ProgressState progress_;

 private:
  void BeginCursor(Cursor c);
  void StartProgress(int count, bool counted);

  std::string checkText_;
  bool checkState_ = false;
  std::string status_[4];
  Cursor cursor_ = Cursor::Normal;
  Cursor savedCursor_ = Cursor::Normal;
  bool cursorOverride_ = false;
};

}  // namespace kestro
