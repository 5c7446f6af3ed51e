// A user interface for tests: it answers questions from a queue and records
// every text, caption and style that the code showed.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace kestro {

class ScriptedUi : public Ui {
 public:
  struct Shown {
    BoxKind kind;
    std::string text;
    std::string caption;
    uint32_t style;
    std::string checkText;
    bool checkState;  // as shown
    int answer;
  };

  // Answers for questions (styles with more than one button), in order.
  // OK-only boxes are answered OK without taking from the queue. With the
  // queue empty a question gets No (Yes/No) or Cancel (with Cancel).
  std::deque<int> answers;
  // Check box states after the dialog, in order; without one the state
  // stays as shown.
  std::deque<bool> checkAnswers;
  // Chooser answers; nothing queued means the user cancelled.
  std::deque<std::optional<OpenFileResult>> openAnswers;
  std::deque<std::optional<SaveFileResult>> saveAnswers;

  // The user closes the progress window once this many progress steps have
  // been taken (counted and uncounted alike); 0 never.
  int abortAfterSteps = 0;
  std::string abortText = "Abort";

  // Called with every new first line of the progress window as it is set:
  // a test strikes there at a given step of an operation.
  std::function<void(const std::string& line1)> onLine1;

  // What was shown.
  std::vector<Shown> messages;
  std::vector<OpenFileRequest> openRequests;
  std::vector<SaveFileRequest> saveRequests;
  std::vector<std::string> generalMessages;
  std::vector<std::string> progressLog;  // "start N", "step", "line1 TEXT", ...
  int questionsAsked = 0;
  int pumps = 0;
  int steps = 0;

  // Messages whose text equals `text`.
  int CountText(const std::string& text) const;
  bool Showed(const std::string& text) const { return CountText(text) > 0; }
  const Shown* Last() const { return messages.empty() ? nullptr : &messages.back(); }
  std::vector<std::string> Line1History() const;

  void ShowGeneralMessage(std::string_view text, std::string_view caption, std::string_view picture) override;
  void CloseGeneralMessage() override;
  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest& req) override;
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest& req) override;
  void PumpMessages() override { ++pumps; }

  bool generalMessageOpen = false;

 protected:
  int DoMessage(MessageRequest& req) override;
  void OnProgressChanged() override;
  void OnProgressStep(int n) override;

 private:
  ProgressState last_;
};

}  // namespace kestro
