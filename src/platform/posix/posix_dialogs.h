// Message boxes and the folder picker on a Linux terminal. Without a
// terminal nothing waits: a box's text goes to standard error and the call
// returns at once (Yes/No boxes answer No), and the picker answers
// "cancelled".
//
// When the console player shares the terminal, the boxes read their
// answers through it (SetAnswerSource), so that the two never compete for
// a line. A Yes/No box whose question gets no answer at all (Ctrl-D,
// Ctrl-C, a terminal that went away) answers Yes: the only such box is the
// exit question, and a user who can no longer answer is leaving.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/dialogs.h"

namespace platform {

class PosixDialogs : public Dialogs {
 public:
  // Shows a prompt and returns the line typed, or nothing when none can
  // come. Blocking; called from any thread.
  using AnswerSource = std::function<std::optional<std::string>(const std::string& prompt)>;

  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;

  // Set before the application runs; empty reads standard input.
  // `afterBox` (may be empty) is called when a box answered through the
  // source has closed and the program goes on: after OK, after No.
  void SetAnswerSource(AnswerSource source, std::function<void()> afterBox = {}) {
    answers_ = std::move(source);
    afterBox_ = std::move(afterBox);
  }

 private:
  std::optional<std::string> Answer(const std::string& prompt);

  AnswerSource answers_;
  std::function<void()> afterBox_;
};

// The answer of a Yes/No box to a typed line (y, yes, n, no and their
// German, French and Spanish words, any letter case; an empty line is No),
// or nothing for any other text.
std::optional<BoxAnswer> YesNoAnswer(const std::string& typed);

}  // namespace platform
