#include "flash/flash_player.h"

#include <memory>
#include <optional>
#include <vector>

#include "app/installer_app.h"
#include "build_config.h"
#include "platform/path.h"

namespace flash {

namespace {

// The installed player's version through a hidden control in `parent`;
// nothing when no control can be created (no player installed).
std::optional<int32_t> PlayerVersion(platform::MovieHost* movies, platform::DialogWindow& parent) {
  if (movies == nullptr) return std::nullopt;
  std::unique_ptr<platform::MovieControl> control =
      movies->CreateControl(parent, kVersionControlId, false, [](const std::string&, const std::string&) {});
  if (!control) return std::nullopt;
  return control->FlashVersion();
}

void ShowNotice(platform::DialogWindow& notice) {
  notice.SetTitle(std::string(kNoticeTitle));
  notice.SetText(std::string(kNoticeText1));
  notice.SetText(std::string(kNoticeText2));
  notice.Show();
}

// Copies the opened set-up to `file` until the end of the data, a failed
// read or a short write. Returns true when the data ended normally.
bool Transfer(platform::HttpStream& stream, platform::File& file) {
  std::vector<char> buffer(kSetupChunk);
  for (;;) {
    size_t received = 0;
    if (!stream.Read(buffer.data(), buffer.size(), &received)) return false;
    if (received == 0) return true;
    if (!file.Write(buffer.data(), received)) return false;
  }
}

}  // namespace

std::string SetupAddress() { return "https://" + std::string(build_config::kDownloadHost) + std::string(kSetupPath); }

int EnsureFlashPlayer(app::CInstallerApp& app) { return EnsureFlashPlayer(app, SetupAddress()); }

int EnsureFlashPlayer(app::CInstallerApp& app, const std::string& setupAddress) {
  const platform::Platform& p = app.Platform();
  // 1-3. The version at hand; a recent player needs nothing more.
  app.flashInstalled = 0;
  app.flashVersion = 0;
  std::unique_ptr<platform::DialogWindow> notice = p.windows->CreateDialogWindow(kNoticeTemplate, false);
  app.flashVersion = PlayerVersion(p.movies, *notice).value_or(0);
  if (app.flashVersion >= kRequiredVersion) return 0;

  // 4. The download session and the notice.
  std::unique_ptr<platform::HttpDownloadSession> session =
      p.http->OpenSession(app.appName.str(), platform::HttpTimeouts{});
  app.flashInstalled = 1;
  ShowNotice(*notice);

  // 5-7. The set-up into the temporary folder.
  const std::string folder = p.system->TempFolder();
  const std::string setupPath = platform::JoinPath(folder, kSetupFile);
  std::unique_ptr<platform::File> file = p.files->CreateForWrite(setupPath, nullptr);
  if (!file) return 1;
  std::unique_ptr<platform::HttpStream> stream = session->OpenUrl(setupAddress, nullptr);
  if (!stream) {
    // Nothing arrived: the empty file is not left behind.
    file.reset();
    p.files->RemoveFile(setupPath);
    return 1;
  }
  (void)Transfer(*stream, *file);
  (void)file->Close();
  file.reset();
  stream.reset();
  session.reset();

  // 8. Whatever arrived is run, hidden, and waited for; then it goes.
  (void)p.processes->RunProgram(folder, std::string(kSetupFile), std::nullopt, false, true);
  p.files->RemoveFile(setupPath);

  // 9. The version the set-up left; from 6.0 on it will do.
  const std::optional<int32_t> version = PlayerVersion(p.movies, *notice);
  if (!version) return 1;
  app.flashVersion = *version;
  if (app.flashVersion < kAcceptedAfterSetup) return 1;
  p.dialogs->ShowMessageBox(std::string(kThankYouText), app.appName.str(), platform::BoxStyle::Plain);
  return 0;
}

}  // namespace flash
