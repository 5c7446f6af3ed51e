#include "platform/ui.h"

#include <algorithm>

namespace kestro {

Buttons ButtonsForStyle(uint32_t style) {
  switch (style & 0xF) {
    case 1: return Buttons::OkCancel;
    case 3: return Buttons::YesNoCancel;
    case 4: return Buttons::YesNo;
    default: return Buttons::Ok;
  }
}

Picture PictureForStyle(uint32_t style) {
  switch (style & 0xF0) {
    case 0x10: return Picture::Stop;
    case 0x20: return Picture::Question;
    case 0x30: return Picture::Exclamation;
    default: return Picture::Information;
  }
}

bool IsQuestion(uint32_t style) { return ButtonsForStyle(style) != Buttons::Ok; }

std::vector<std::string> SplitMessageLines(std::string_view text) {
  constexpr size_t kMaxLine = 99;
  constexpr size_t kSlots = 11;
  std::vector<std::string> lines;
  size_t pos = 0;
  while (true) {
    if (lines.size() == kSlots - 1) {
      // After the tenth line feed the rest of the text is the last line.
      std::string rest(text.substr(pos));
      if (!rest.empty() || lines.empty()) lines.push_back(rest.substr(0, kMaxLine));
      break;
    }
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      std::string last(text.substr(pos));
      if (!last.empty() || lines.empty()) lines.push_back(last.substr(0, kMaxLine));
      break;
    }
    lines.push_back(std::string(text.substr(pos, std::min(nl - pos, kMaxLine))));
    pos = nl + 1;
  }
  return lines;
}

MessageLayout LayoutMessage(std::string_view text, uint32_t style,
                            const std::function<int(std::string_view)>& textWidth) {
  MessageLayout m;
  m.lines = SplitMessageLines(text);
  int widest = 0;
  for (const auto& l : m.lines) widest = std::max(widest, textWidth(l));
  int n = static_cast<int>(m.lines.size());
  m.width = widest + 32 + 85;
  m.height = 13 * n < 25 ? 135 : 13 * n + 110;

  int buttons = 1;
  switch (ButtonsForStyle(style)) {
    case Buttons::Ok:
      m.b1 = {true, "MSG_OK"};
      break;
    case Buttons::OkCancel:
      m.b1 = {true, "MSG_OK"};
      m.b3 = {true, "MSG_CANCEL"};
      buttons = 2;
      break;
    case Buttons::YesNoCancel:
      m.b1 = {true, "MSG_YES"};
      m.b2 = {true, "MSG_NO"};
      m.b3 = {true, "MSG_CANCEL"};
      buttons = 3;
      break;
    case Buttons::YesNo:
      m.b1 = {true, "MSG_YES"};
      m.b2 = {true, "MSG_NO"};
      buttons = 2;
      break;
  }
  const int minWidth[] = {0, 180, 230, 325};
  m.width = std::max(m.width, minWidth[buttons]);

  auto place = [&](MessageLayout::Button& b, int left) {
    if (!b.visible) {
      b.left = b.right = b.top = b.bottom = 0;
      return;
    }
    b.left = left;
    b.right = left + 75;
    b.top = m.height - 60;
    b.bottom = m.height - 40;
  };
  int w2 = m.width / 2;
  if (buttons == 1) {
    place(m.b1, w2 - 42);
    place(m.b2, 0);
    place(m.b3, 0);
  } else if (buttons == 2) {
    place(m.b1, w2 - 85);
    place(m.b2, w2 + 10);
    place(m.b3, w2 + 10);
  } else {
    place(m.b1, w2 - 132);
    place(m.b2, w2 - 37);
    place(m.b3, w2 + 58);
  }
  return m;
}

int ResultForButton(int button, std::string_view b1Label, std::string_view okText) {
  switch (button) {
    case 1: return b1Label == okText ? kIdOk : kIdYes;
    case 2: return kIdNo;
    default: return kIdCancel;
  }
}

int Ui::ShowMessage(std::string_view text, std::string_view caption, uint32_t style) {
  MessageRequest req;
  req.kind = BoxKind::Program;
  req.text = std::string(text);
  req.caption = std::string(caption);
  req.style = style;
  req.checkText = checkText_;
  req.checkState = checkState_;
  int r = DoMessage(req);
  if (!checkText_.empty()) checkState_ = req.checkState;
  return r;
}

int Ui::SystemMessage(std::string_view text, std::string_view caption, uint32_t style) {
  MessageRequest req;
  req.kind = BoxKind::System;
  req.text = std::string(text);
  req.caption = std::string(caption);
  req.style = style;
  return DoMessage(req);
}

void Ui::SetProgressTitle(std::string_view title) { progress_.pendingTitle = std::string(title); }

void Ui::StartProgress(int count, bool counted) {
  progress_.abort = false;
  progress_.counted = counted;
  progress_.active = true;
  progress_.open = true;
  progress_.position = 0;
  progress_.rangeMax = counted ? count : count + 1;
  progress_.line1.clear();
  progress_.line2.clear();
  progress_.caption = progress_.pendingTitle;
  OnProgressChanged();
  PumpProgressMessages();
}

void Ui::ProgressStart(int count) {
  if (count == 0) return;
  StartProgress(count, false);
}

void Ui::ProgressStartCounted(int count) { StartProgress(count, true); }

void Ui::ProgressReset(int count) {
  if (!progress_.active) return;
  progress_.rangeMax = count + 1;
  progress_.position = 0;
  OnProgressChanged();
  PumpProgressMessages();
}

void Ui::ProgressStep(int n) {
  if (progress_.counted) return;
  if (progress_.active) {
    progress_.position = std::min(progress_.position + std::max(n, 0), std::max(progress_.rangeMax, 0));
    OnProgressChanged();
    OnProgressStep(n);
  }
  PumpProgressMessages();
}

void Ui::ProgressStepCounted(int n) {
  if (!progress_.counted) return;
  if (progress_.active) {
    progress_.position = std::min(progress_.position + std::max(n, 0), std::max(progress_.rangeMax, 0));
    OnProgressChanged();
    OnProgressStep(n);
  }
  PumpProgressMessages();
}

void Ui::ProgressLine1(std::string_view text) {
  if (!progress_.open) return;
  progress_.line1 = std::string(text);
  OnProgressChanged();
}

void Ui::ProgressLine2(std::string_view text) {
  if (!progress_.open) return;
  progress_.line2 = std::string(text);
  OnProgressChanged();
}

void Ui::ProgressEnd() {
  progress_.active = false;
  progress_.position = 0;
  progress_.open = false;
  progress_.abort = false;
  OnProgressChanged();
}

void Ui::RequestAbort(std::string_view abortText) {
  progress_.abort = true;
  if (progress_.open) {
    progress_.line1 = std::string(abortText);
    progress_.line2.clear();
  }
  OnProgressChanged();
}

void Ui::SetStatusLine(int line, std::optional<std::string_view> text) {
  if (line < 0 || line > 3) return;
  if (text) status_[line] = std::string(*text);
  OnStatusLine(line);
}

std::string Ui::StatusLine(int line) const {
  if (line < 0 || line > 3) return {};
  return status_[line];
}

void Ui::BeginCursor(Cursor c) {
  if (cursorOverride_) return;
  savedCursor_ = cursor_;
  cursor_ = c;
  cursorOverride_ = true;
  OnCursor(cursor_);
}

void Ui::EndCursor() {
  if (cursorOverride_) {
    cursor_ = savedCursor_;
    OnCursor(cursor_);
  }
  cursorOverride_ = false;
}

}  // namespace kestro
