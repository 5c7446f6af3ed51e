#include "platform/scripted_ui.h"

namespace kestro {

int ScriptedUi::CountText(const std::string& text) const {
  int n = 0;
  for (const auto& m : messages) {
    if (m.text == text) ++n;
  }
  return n;
}

std::vector<std::string> ScriptedUi::Line1History() const {
  std::vector<std::string> out;
  for (const auto& e : progressLog) {
    if (e.rfind("line1 ", 0) == 0) out.push_back(e.substr(6));
  }
  return out;
}

int ScriptedUi::DoMessage(MessageRequest& req) {
  int answer = kIdOk;
  if (IsQuestion(req.style)) {
    ++questionsAsked;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    } else {
      answer = ButtonsForStyle(req.style) == Buttons::YesNo ? kIdNo : kIdCancel;
    }
  }
  bool shownState = req.checkState;
  if (!req.checkText.empty() && !checkAnswers.empty()) {
    req.checkState = checkAnswers.front();
    checkAnswers.pop_front();
  }
  messages.push_back({req.kind, req.text, req.caption, req.style, req.checkText, shownState, answer});
  return answer;
}

void ScriptedUi::ShowGeneralMessage(std::string_view text, std::string_view, std::string_view) {
  generalMessages.emplace_back(text);
  generalMessageOpen = true;
}

void ScriptedUi::CloseGeneralMessage() { generalMessageOpen = false; }

std::optional<OpenFileResult> ScriptedUi::ChooseOpenFiles(const OpenFileRequest& req) {
  openRequests.push_back(req);
  if (openAnswers.empty()) return std::nullopt;
  auto a = openAnswers.front();
  openAnswers.pop_front();
  return a;
}

std::optional<SaveFileResult> ScriptedUi::ChooseSaveFile(const SaveFileRequest& req) {
  saveRequests.push_back(req);
  if (saveAnswers.empty()) return std::nullopt;
  auto a = saveAnswers.front();
  saveAnswers.pop_front();
  return a;
}

void ScriptedUi::OnProgressChanged() {
  const ProgressState& p = progress_;
  if (p.open && !last_.open) {
    progressLog.push_back((p.counted ? "startcounted " : "start ") + std::to_string(p.rangeMax));
  } else if (!p.open && last_.open) {
    progressLog.push_back("end");
  } else if (p.open && p.rangeMax != last_.rangeMax) {
    progressLog.push_back("reset " + std::to_string(p.rangeMax));
  }
  if (p.open && p.line1 != last_.line1) progressLog.push_back("line1 " + p.line1);
  if (p.open && p.line2 != last_.line2) progressLog.push_back("line2 " + p.line2);
  const bool newLine1 = p.line1 != last_.line1;
  last_ = p;
  if (newLine1 && onLine1) onLine1(p.line1);
}

void ScriptedUi::OnProgressStep(int n) {
  steps += n;
  progressLog.push_back("step " + std::to_string(n));
  if (abortAfterSteps > 0 && steps >= abortAfterSteps && !progress_.abort) {
    abortAfterSteps = 0;
    progressLog.push_back("abort");
    RequestAbort(abortText);
  }
}

}  // namespace kestro
