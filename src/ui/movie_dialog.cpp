#include "ui/movie_dialog.h"

#include <cctype>

#include "app/messages.h"

namespace ui {

namespace {

int LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 100000) return 100000;  // no screen is larger
  }
  return static_cast<int>(value);
}

}  // namespace

std::optional<std::pair<int, int>> ParseSizeText(const std::string& sizeText) {
  if (sizeText.size() > 19) return std::nullopt;
  const size_t tilde = sizeText.find('~');
  if (tilde == std::string::npos) return std::nullopt;
  return std::make_pair(LeadingNumber(sizeText.substr(0, tilde)), LeadingNumber(sizeText.substr(tilde + 1)));
}

void MovieDialog::AnswerMovie(const std::optional<std::string>& label, const std::optional<std::string>& funcName,
                              const std::optional<std::string>& funcParm) {
  if (funcName) flash_.SetVariable("funcName", *funcName);
  if (funcParm) flash_.SetVariable("funcParm", *funcParm);
  if (label) flash_.TCallLabel("_root", *label);
}

void MovieDialog::FitToMovie(const std::string& sizeText) {
  const auto size = ParseSizeText(sizeText);
  if (!size) return;
  window_->Hide();
  flash_.SetSize(size->first, size->second);
  window_->FitClient(size->first, size->second);
  window_->Show();
}

void MovieDialog::OpenWindow(int templateId) {
  window_ = app_.Platform().windows->CreateDialogWindow(templateId, true);
  window_->SetTopmost();
  window_->SetCloseRequestHandler([&app = app_] { app.PostToMainThread(app::WM_APP_CLOSE_DIALOG, 1); });
}

int MovieDialog::RunLoop() {
  ended_ = false;
  const bool ended = app_.Loop().RunUntil([this] { return ended_; }, [this](const platform::ThreadMessage& message) {
    if (platform::RunIfTask(message)) return;
    if (OnDialogMessage(message)) return;
    app_.DispatchThreadMessage(message);
  });
  return ended ? result_ : 0;
}

void MovieDialog::EndModalLoop(int result) {
  ended_ = true;
  result_ = result;
}

}  // namespace ui
