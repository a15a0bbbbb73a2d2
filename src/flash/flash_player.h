// Movie player provisioning: every screen of the installer is a movie, so
// before any dialog is shown the application makes sure a player of version
// 9 or later is present. When it is not, a notice window is shown, the
// player's set-up is downloaded from the product's download host into the
// temporary folder, run hidden and waited for, deleted, and the version is
// asked again. The application keeps whether a set-up was started
// (flashInstalled) and the version found (flashVersion) for the file-list
// request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app {
class CInstallerApp;
}

namespace flash {

// Version numbers carry the major version in their upper 16 bits.
inline constexpr int32_t kRequiredVersion = 0x90000;     // 9.0, to go without a set-up
inline constexpr int32_t kAcceptedAfterSetup = 0x60000;  // 6.0, enough once a set-up has run

// The hidden control that tells the version, and the notice window.
inline constexpr int kVersionControlId = 1001;
inline constexpr int kNoticeTemplate = 129;
inline constexpr std::string_view kNoticeTitle = "Flash Player Installation";
inline constexpr std::string_view kNoticeText1 =
    "The program requiers flash player in order to run.\n\nThe program will now download and install flash "
    "player, the player is a world known software component which enables your computer to play animation and "
    "multimedia.";
inline constexpr std::string_view kNoticeText2 =
    "In a few seconds you will be prompted to install the flash player,\nplease confirm the installation.";
inline constexpr std::string_view kThankYouText =
    "Thank you!\n\nYou can now play animation and multimedia on your system.\n\n\n\nPlease press 'OK' to continue";

// The set-up: its path on the download host, its file in the temporary
// folder, and the largest piece read at a time.
inline constexpr std::string_view kSetupPath = "/setup/basic/flash/flashplayer9r115_winax.exe.zip";
inline constexpr std::string_view kSetupFile = "SetupFlash.exe";
inline constexpr size_t kSetupChunk = 603000;

// "https://" + the build's download host + kSetupPath.
std::string SetupAddress();

// Makes sure of a usable player. Returns 0 when one of version 9 or later
// was there, or when the set-up left one of version 6 or later (the thank-
// you box has then been shown); 1 otherwise: the set-up file could not be
// created, its address not opened, or no usable player after the set-up.
// Failures show nothing of their own. Writes app.flashInstalled (1 once a
// download is started) and app.flashVersion. Main thread, before any movie
// dialog; blocks for the download and up to an hour for the set-up.
int EnsureFlashPlayer(app::CInstallerApp& app);
// The same with the set-up fetched from `setupAddress`.
int EnsureFlashPlayer(app::CInstallerApp& app, const std::string& setupAddress);

}  // namespace flash
