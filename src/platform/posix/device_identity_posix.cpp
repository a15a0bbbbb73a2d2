#include "platform/posix/device_identity_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <utility>

namespace platform {
namespace {

// The per-drive routes visit at most this many drives.
constexpr size_t kDriveLimit = 16;
// sysfs attributes are at most a page; anything longer is not one of them.
constexpr size_t kAttributeLimit = 4096;
constexpr size_t kHdioBlockSize = 512;
constexpr std::string_view kLoopbackType = "772";  // ARPHRD_LOOPBACK

// Device names that are never a fixed disk of the machine.
constexpr std::string_view kVirtualPrefixes[] = {"loop", "ram", "zram", "sr", "fd", "dm-", "md", "nbd"};
// Device names whose nodes may answer HDIO_GET_IDENTITY.
constexpr std::string_view kIdentifyPrefixes[] = {"sd", "hd", "nvme"};

// Word ranges of the identify block that the kernel hands as byte strings:
// serial, firmware revision, model.
constexpr std::pair<size_t, size_t> kStringWordRanges[] = {{10, 19}, {23, 26}, {27, 46}};

bool StartsWithAny(std::string_view name, std::span<const std::string_view> prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(), [name](std::string_view p) { return name.starts_with(p); });
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Opens without ever waiting (a FIFO or a slow device node must not hold the
// identity up) and without becoming the controlling terminal.
int OpenNonBlocking(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

// The content of a small regular file; nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path) {
  FileDescriptor file(OpenNonBlocking(path));
  if (!file.valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string content;
  char chunk[512];
  while (content.size() < kAttributeLimit) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(chunk, static_cast<size_t>(got));
  }
  if (content.size() > kAttributeLimit) content.resize(kAttributeLimit);
  return content;
}

// A text attribute: up to its first zero byte, without trailing blanks and
// line ends. Leading blanks stay: a right-justified serial keeps its shape.
std::string TextAttribute(const std::string& path) {
  std::string text = ReadAttribute(path).value_or(std::string{});
  text.resize(std::min(text.size(), text.find('\0')));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Entry names of a folder, without "." entries; nullopt when it cannot be
// listed.
std::optional<std::vector<std::string>> ListFolder(const std::string& path) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(folder);
  return names;
}

// The serial sysfs gives a disk: NVMe and MMC controllers and most drivers
// publish it as device/serial, virtio disks as serial, SCSI and SATA disks
// in their unit-serial-number page.
std::string DiskSerial(const std::string& disk) {
  for (const char* attribute : {"/device/serial", "/serial"}) {
    std::string serial = TextAttribute(disk + attribute);
    if (!serial.empty()) return serial;
  }
  std::string serial = SerialFromVpdPage80(ReadAttribute(disk + "/device/vpd_pg80").value_or(std::string{}));
  while (!serial.empty() && serial.back() == ' ') serial.pop_back();
  return serial;
}

std::optional<IdentifyBlock> ReadHdioIdentify(const std::string& devicePath) {
  FileDescriptor device(OpenNonBlocking(devicePath));
  if (!device.valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(device.get(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
  unsigned char raw[kHdioBlockSize] = {};
  if (::ioctl(device.get(), HDIO_GET_IDENTITY, raw) != 0) return std::nullopt;
  return IdentifyBlockFromHdio(std::string_view(reinterpret_cast<const char*>(raw), sizeof raw));
}

}  // namespace

PosixDeviceIdentitySources::PosixDeviceIdentitySources(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

uint32_t PosixDeviceIdentitySources::PlatformId() { return kPlatformIdDrives; }

std::vector<PosixDeviceIdentitySources::Disk> PosixDeviceIdentitySources::Disks() const {
  std::string folder = sysRoot_ + "/block";
  std::optional<std::vector<std::string>> names = ListFolder(folder);
  bool skipPartitions = false;
  if (!names) {
    // /sys/class/block lists partitions beside their disks.
    folder = sysRoot_ + "/class/block";
    names = ListFolder(folder);
    skipPartitions = true;
  }
  std::vector<Disk> disks;
  for (std::string& name : names.value_or(std::vector<std::string>{})) {
    std::string entry = folder + "/" + name;
    if (StartsWithAny(name, kVirtualPrefixes)) continue;
    if (skipPartitions && PathExists(entry + "/partition")) continue;
    if (TextAttribute(entry + "/removable") == "1") continue;
    disks.push_back({std::move(name), std::move(entry)});
  }
  std::sort(disks.begin(), disks.end(), [](const Disk& a, const Disk& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  if (disks.size() > kDriveLimit) disks.resize(kDriveLimit);
  return disks;
}

std::vector<std::string> PosixDeviceIdentitySources::DiskNames() const {
  std::vector<std::string> names;
  for (Disk& disk : Disks()) names.push_back(std::move(disk.name));
  return names;
}

std::vector<IdentifyBlock> PosixDeviceIdentitySources::SmartIdentifyBlocks() {
  std::vector<IdentifyBlock> blocks;
  for (const Disk& disk : Disks()) {
    if (!StartsWithAny(disk.name, kIdentifyPrefixes)) continue;
    if (std::optional<IdentifyBlock> block = ReadHdioIdentify(devRoot_ + "/" + disk.name)) blocks.push_back(*block);
  }
  return blocks;
}

std::vector<IdentifyBlock> PosixDeviceIdentitySources::ScsiMiniportIdentifyBlocks() { return {}; }

std::vector<StorageQueryResult> PosixDeviceIdentitySources::StorageQueryResults() {
  std::vector<StorageQueryResult> results;
  for (const Disk& disk : Disks()) {
    StorageDescriptor descriptor;
    descriptor.serialForm = SerialForm::Plain;
    descriptor.serial = DiskSerial(disk.sysfsPath);
    descriptor.productId = TextAttribute(disk.sysfsPath + "/device/model");
    StorageQueryResult result;
    if (!descriptor.serial.empty() || !descriptor.productId.empty()) result.descriptor = std::move(descriptor);
    results.push_back(std::move(result));
  }
  return results;
}

std::optional<std::vector<uint8_t>> PosixDeviceIdentitySources::LegacyIdentifyBuffer() { return std::nullopt; }

AdapterEnumeration PosixDeviceIdentitySources::AdapterStatuses() {
  AdapterEnumeration enumeration;
  const std::string folder = sysRoot_ + "/class/net";
  std::optional<std::vector<std::string>> names = ListFolder(folder);
  if (!names) return enumeration;
  enumeration.ok = true;
  std::sort(names->begin(), names->end());

  // Bridges, tunnels and container links come and go and often carry random
  // addresses; an adapter backed by a device keeps its address.
  std::vector<AdapterStatus> withDevice;
  std::vector<AdapterStatus> virtualOnly;
  for (const std::string& name : *names) {
    const std::string entry = folder + "/" + name;
    if (name == "lo" || TextAttribute(entry + "/type") == kLoopbackType) continue;
    const std::optional<std::array<uint8_t, 6>> address = ParseAdapterAddress(TextAttribute(entry + "/address"));
    if (!address) continue;
    if (std::all_of(address->begin(), address->end(), [](uint8_t b) { return b == 0; })) continue;
    AdapterStatus status;
    status.resetOk = true;
    status.statusOk = true;
    status.address = *address;
    (PathExists(entry + "/device") ? withDevice : virtualOnly).push_back(status);
  }
  enumeration.adapters = withDevice.empty() ? std::move(virtualOnly) : std::move(withDevice);
  return enumeration;
}

std::optional<IdentifyBlock> IdentifyBlockFromHdio(std::string_view raw) {
  if (raw.size() != kHdioBlockSize) return std::nullopt;
  const auto byteAt = [raw](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(raw[i])); };
  IdentifyBlock block{};
  for (size_t i = 0; i < block.size(); ++i) {
    uint16_t word = 0;
    std::memcpy(&word, raw.data() + 2 * i, sizeof word);  // host order
    block[i] = word;
  }
  for (const auto& [first, last] : kStringWordRanges) {
    for (size_t i = first; i <= last; ++i) block[i] = static_cast<uint16_t>(byteAt(2 * i) << 8 | byteAt(2 * i + 1));
  }
  return block;
}

std::string SerialFromVpdPage80(std::string_view page) {
  constexpr size_t kHeaderSize = 4;
  constexpr unsigned char kPageCode = 0x80;
  if (page.size() < kHeaderSize || static_cast<unsigned char>(page[1]) != kPageCode) return {};
  const size_t declared =
      static_cast<size_t>(static_cast<unsigned char>(page[2])) << 8 | static_cast<unsigned char>(page[3]);
  std::string_view serial = page.substr(kHeaderSize, declared);
  serial = serial.substr(0, serial.find('\0'));
  return std::string(serial);
}

std::optional<std::array<uint8_t, 6>> ParseAdapterAddress(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  constexpr size_t kTextSize = 6 * 3 - 1;
  if (text.size() != kTextSize) return std::nullopt;
  const auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::array<uint8_t, 6> address{};
  for (size_t i = 0; i < address.size(); ++i) {
    const size_t at = 3 * i;
    if (i > 0 && text[at - 1] != ':') return std::nullopt;
    const int high = hexValue(text[at]);
    const int low = hexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    address[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return address;
}

}  // namespace platform
