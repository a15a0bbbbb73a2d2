#include "net/server_address.h"

#include <memory>

#include "build_config.h"
#include "net/key_value_text.h"
#include "platform/path.h"

namespace net {

namespace {

// Reads at most kUpdaterConfigMaxBytes of `path`. The file is read straight
// through the platform's files rather than the application's whole-buffer
// helper, which lives in the layer above this one. A file that cannot be
// opened or read gives the part read so far (usually nothing).
std::string ReadConfigText(platform::FileSystem& files, const std::string& path) {
  std::unique_ptr<platform::File> file = files.OpenForRead(path, nullptr);
  if (!file) return {};
  std::string text(kUpdaterConfigMaxBytes, '\0');
  size_t total = 0;
  while (total < text.size()) {
    size_t received = 0;
    if (!file->Read(text.data() + total, text.size() - total, &received) || received == 0) break;
    total += received;
  }
  text.resize(total);
  return text;
}

// The CA file of the override, taken from the executable's folder when it is
// relative. An editor's line break at the end of the file is not part of it.
std::string CaFilePath(std::string_view value, const std::string& exeDir) {
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.remove_suffix(1);
  if (value.empty()) return {};
  if (platform::IsAbsolutePath(value)) return platform::NativePath(value);
  // A drive that is not absolute here (a system without drives) names no
  // file of this machine.
  if (value.size() >= 2 && value[1] == ':') return {};
  return platform::JoinPath(exeDir, value);
}

}  // namespace

ServerAddress LoadServerAddress(const platform::Platform& platform, std::string_view builtInHost,
                                int32_t builtInPort) {
  ServerAddress address;
  address.silent = std::make_shared<std::atomic<bool>>(false);
  const std::string exeDir = platform::DirectoryOf(platform.system->ExecutablePath());
  const std::string configPath = platform::JoinPath(exeDir, kUpdaterConfigFile);

  if (!platform.files->Exists(configPath)) {
    address.host = std::string(builtInHost);
    address.directory = std::string(kDefaultUpdateDirectory);
    address.port = builtInPort;
    return address;
  }

  const std::string text = ReadConfigText(*platform.files, configPath);
  address.host = GetValue(text, "~ip=");
  address.directory = GetValue(text, "~srvl=");
  address.extraName = GetValue(text, "~pn1=");
  address.extraValue = GetValue(text, "~pv1=");
  address.port = GetIntValue(text, "~po=");
  address.caFile = CaFilePath(GetValue(text, "~ca="), exeDir);

  if (!address.caFile.empty() && platform.http != nullptr) platform.http->SetExtraCaFile(address.caFile);
  return address;
}

ServerAddress LoadServerAddress(const platform::Platform& platform) {
  return LoadServerAddress(platform, build_config::kSecureHost, build_config::kSecurePort);
}

}  // namespace net
