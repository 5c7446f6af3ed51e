#include "platform/terminal_ui.h"

#include <unistd.h>

#include <cctype>
#include <string>

#include "platform/latin1.h"

namespace kestro {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string Escaped(unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02X", c);
  return buf;
}

}  // namespace

std::string TerminalText(std::string_view latin1, bool keepLineBreaks) {
  std::string safe;
  safe.reserve(latin1.size());
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (keepLineBreaks && (c == '\n' || c == '\t')) safe += ch;
    else if (IsControl(c) || (c >= 0x80 && c <= 0x9F)) safe += Escaped(c);
    else safe += ch;
  }
  return Latin1ToUtf8(safe);
}

std::string TerminalName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if (IsControl(c)) {
      out += Escaped(c);
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", next);
      out += buf;
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

TerminalUi::TerminalUi(AnswerMode mode, std::FILE* out, std::FILE* in)
    : mode_(mode), out_(out), in_(in), outIsTty_(isatty(fileno(out)) != 0) {}

void TerminalUi::ClearProgressLine() {
  if (progressShown_) {
    std::fputs("\r\033[K", out_);
    progressShown_ = false;
  }
}

int TerminalUi::Ask(Buttons b) {
  const char* prompt = b == Buttons::OkCancel      ? "[o]k / [c]ancel? "
                       : b == Buttons::YesNoCancel ? "[y]es / [n]o / [c]ancel? "
                                                   : "[y]es / [n]o? ";
  for (int tries = 0; tries < 5; ++tries) {
    std::fputs(prompt, out_);
    std::fflush(out_);
    char buf[64];
    if (!std::fgets(buf, sizeof buf, in_)) break;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(buf[0])));
    if (b == Buttons::OkCancel) {
      if (c == 'o' || c == 'y') return kIdOk;
      if (c == 'c' || c == 'n') return kIdCancel;
    } else {
      if (c == 'y') return kIdYes;
      if (c == 'n') return kIdNo;
      if (c == 'c' && b == Buttons::YesNoCancel) return kIdCancel;
    }
  }
  return b == Buttons::OkCancel || b == Buttons::YesNoCancel ? kIdCancel : kIdNo;
}

int TerminalUi::DoMessage(MessageRequest& req) {
  ClearProgressLine();
  std::string caption = TerminalText(req.caption);
  std::string text = TerminalText(req.text, true);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (caption.empty()) std::fprintf(out_, "%s\n", text.c_str());
  else if (caption.back() == ':') std::fprintf(out_, "%s %s\n", caption.c_str(), text.c_str());
  else std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
  if (!req.checkText.empty()) {
    std::fprintf(out_, "  [%c] %s\n", req.checkState ? 'x' : ' ', TerminalText(req.checkText, true).c_str());
  }
  if (!IsQuestion(req.style)) {
    std::fflush(out_);
    return kIdOk;
  }
  Buttons b = ButtonsForStyle(req.style);
  int answer;
  switch (mode_) {
    case AnswerMode::Yes:
      answer = b == Buttons::OkCancel ? kIdOk : kIdYes;
      break;
    case AnswerMode::No:
      answer = b == Buttons::YesNo ? kIdNo : (b == Buttons::YesNoCancel ? kIdNo : kIdCancel);
      break;
    case AnswerMode::Ask:
    default:
      if (isatty(fileno(in_))) {
        answer = Ask(b);
      } else {
        answer = b == Buttons::OkCancel ? kIdCancel : kIdNo;
      }
      break;
  }
  if (mode_ != AnswerMode::Ask || !isatty(fileno(in_))) {
    const char* word = answer == kIdOk ? "OK" : answer == kIdYes ? "Yes" : answer == kIdNo ? "No" : "Cancel";
    std::fprintf(out_, "  -> %s\n", word);
  }
  std::fflush(out_);
  return answer;
}

void TerminalUi::ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view) {
  ClearProgressLine();
  std::fprintf(out_, "%s: %s\n", TerminalText(caption).c_str(), TerminalText(text, true).c_str());
}

std::optional<OpenFileResult> TerminalUi::ChooseOpenFiles(const OpenFileRequest&) {
  auto r = presetOpen;
  presetOpen.reset();
  return r;
}

std::optional<SaveFileResult> TerminalUi::ChooseSaveFile(const SaveFileRequest&) {
  auto r = presetSave;
  presetSave.reset();
  return r;
}

void TerminalUi::OnProgressChanged() {
  if (!showProgress || !outIsTty_) return;
  const ProgressState& p = progress_;
  if (!p.open) {
    ClearProgressLine();
    lastPercent_ = -1;
    return;
  }
  int percent = p.rangeMax > 0 ? p.position * 100 / p.rangeMax : 0;
  if (percent == lastPercent_ && p.line1 == lastLine1_) return;
  lastPercent_ = percent;
  lastLine1_ = p.line1;
  std::string line = TerminalText(p.caption.empty() ? p.line1 : p.caption + ": " + p.line1);
  if (line.size() > 60) line.resize(60);
  std::fprintf(out_, "\r\033[K%s %3d%%", line.c_str(), percent);
  std::fflush(out_);
  progressShown_ = true;
}

}  // namespace kestro
