#include "platform/win32/device_identity_win32.h"

#include <cstring>
#include <string>

#include "platform/win32/win32_api.h"

#include <nb30.h>
#include <winioctl.h>

namespace platform {

namespace {

constexpr int kDriveCount = 16;
constexpr DWORD kSmartGetVersion = 0x00074080;
constexpr DWORD kSmartReceiveDriveData = 0x0007C088;
constexpr DWORD kScsiMiniport = 0x0004D008;
constexpr DWORD kScsiMiniportIdentify = 0x001B0501;
constexpr DWORD kStorageQueryProperty = 0x002D1400;
constexpr DWORD kStorageGetMediaSerialNumber = 0x002D0C10;
constexpr BYTE kIdentifyDevice = 0xEC;
constexpr BYTE kIdentifyPacketDevice = 0xA1;

// Byte offsets of the driver structures, packed as the system lays them out.
constexpr size_t kVersionDeviceMap = 3;          // GETVERSIONINPARAMS.bIDEDeviceMap
constexpr size_t kVersionSize = 24;
constexpr size_t kInBufferSize = 0;              // SENDCMDINPARAMS.cBufferSize
constexpr size_t kInSectorCount = 5;             // .irDriveRegs.bSectorCountReg
constexpr size_t kInDriveHead = 9;               // .irDriveRegs.bDriveHeadReg
constexpr size_t kInCommand = 10;                // .irDriveRegs.bCommandReg
constexpr size_t kInDriveNumber = 12;            // .bDriveNumber
constexpr size_t kInSize = 32;                   // without its one-byte buffer
constexpr size_t kOutHead = 16;                  // SENDCMDOUTPARAMS before bBuffer
constexpr size_t kIdentifyBytes = 512;
constexpr size_t kSrbHeaderSize = 28;            // SRB_IO_CONTROL
constexpr size_t kMiniportBufferSize = 557;
constexpr size_t kMiniportInputSize = 60;
constexpr size_t kMiniportModelByte = 98;        // low byte of identify word 27
constexpr size_t kStorageBufferSize = 10000;
constexpr size_t kMediaSerialOffset = 16;        // MEDIA_SERIAL_NUMBER_DATA.SerialNumberData

class Device {
 public:
  Device(const std::string& name, DWORD access)
      : handle_(CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
  ~Device() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Control(DWORD code, void* in, size_t inSize, void* out, size_t outSize) {
    DWORD returned = 0;
    return DeviceIoControl(handle_, code, in, static_cast<DWORD>(inSize), out, static_cast<DWORD>(outSize), &returned,
                           nullptr) != 0;
  }

 private:
  HANDLE handle_;
};

std::string DriveName(int drive) { return "\\\\.\\PhysicalDrive" + std::to_string(drive); }

IdentifyBlock BlockAt(const BYTE* bytes) {
  IdentifyBlock block{};
  for (size_t i = 0; i < kIdentifyWordCount; ++i) {
    block[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return block;
}

void PutDword(BYTE* at, DWORD value) { std::memcpy(at, &value, sizeof value); }

// The zero-terminated text at `offset` of `buffer`; empty for an offset of 0
// or one outside the buffer.
std::string TextAt(const std::vector<BYTE>& buffer, DWORD offset) {
  if (offset == 0 || offset >= buffer.size()) return {};
  const char* start = reinterpret_cast<const char*>(buffer.data() + offset);
  return std::string(start, strnlen(start, buffer.size() - offset));
}

UCHAR RunNetbios(NCB& block) { return Netbios(&block); }

}  // namespace

uint32_t Win32DeviceIdentitySources::PlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return info.dwPlatformId;
}

std::vector<IdentifyBlock> Win32DeviceIdentitySources::SmartIdentifyBlocks() {
  std::vector<IdentifyBlock> blocks;
  for (int drive = 0; drive < kDriveCount; ++drive) {
    Device device(DriveName(drive), GENERIC_READ | GENERIC_WRITE);
    if (!device.open()) continue;
    BYTE version[kVersionSize] = {};
    device.Control(kSmartGetVersion, nullptr, 0, version, sizeof version);
    const BYTE deviceMap = version[kVersionDeviceMap];
    if (deviceMap == 0) continue;
    BYTE in[kInSize] = {};
    PutDword(in + kInBufferSize, kIdentifyBytes);
    in[kInSectorCount] = 1;
    in[kInDriveHead] = (drive & 1) ? 0xB0 : 0xA0;
    in[kInCommand] = ((deviceMap >> drive) & 0x10) ? kIdentifyPacketDevice : kIdentifyDevice;
    in[kInDriveNumber] = static_cast<BYTE>(drive);
    BYTE out[kOutHead + kIdentifyBytes] = {};
    if (device.Control(kSmartReceiveDriveData, in, sizeof in, out, sizeof out)) blocks.push_back(BlockAt(out + kOutHead));
  }
  return blocks;
}

std::vector<IdentifyBlock> Win32DeviceIdentitySources::ScsiMiniportIdentifyBlocks() {
  std::vector<IdentifyBlock> blocks;
  for (int controller = 0; controller < kDriveCount; ++controller) {
    Device device("\\\\.\\Scsi" + std::to_string(controller) + ":", GENERIC_READ | GENERIC_WRITE);
    if (!device.open()) continue;
    for (BYTE drive = 0; drive < 2; ++drive) {
      BYTE buffer[kMiniportBufferSize] = {};
      PutDword(buffer, kSrbHeaderSize);
      std::memcpy(buffer + 4, "SCSIDISK", 8);
      PutDword(buffer + 12, 10000);
      PutDword(buffer + 16, kScsiMiniportIdentify);
      PutDword(buffer + 24, kMiniportBufferSize - kSrbHeaderSize);
      buffer[kSrbHeaderSize + kInCommand] = kIdentifyDevice;
      buffer[kSrbHeaderSize + kInDriveNumber] = drive;
      if (device.Control(kScsiMiniport, buffer, kMiniportInputSize, buffer, sizeof buffer)) {
        blocks.push_back(BlockAt(buffer + kSrbHeaderSize + kOutHead));
      }
    }
  }
  return blocks;
}

std::vector<StorageQueryResult> Win32DeviceIdentitySources::StorageQueryResults() {
  std::vector<StorageQueryResult> results;
  for (int drive = 0; drive < kDriveCount; ++drive) {
    Device device(DriveName(drive), 0);
    if (!device.open()) continue;
    StorageQueryResult result;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<BYTE> buffer(kStorageBufferSize, 0);
    if (device.Control(kStorageQueryProperty, &query, sizeof query, buffer.data(), buffer.size())) {
      const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
      result.descriptor = StorageDescriptor{TextAt(buffer, descriptor->SerialNumberOffset), SerialForm::HexPairs,
                                            TextAt(buffer, descriptor->ProductIdOffset)};
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    if (device.Control(kStorageGetMediaSerialNumber, nullptr, 0, buffer.data(), buffer.size())) {
      result.mediaSerial = TextAt(buffer, kMediaSerialOffset);
    }
    results.push_back(std::move(result));
  }
  return results;
}

std::optional<std::vector<uint8_t>> Win32DeviceIdentitySources::LegacyIdentifyBuffer() {
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  std::optional<std::vector<uint8_t>> result;
  const HANDLE driver = CreateFileA("\\\\.\\IDE21201.VXD", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (driver == INVALID_HANDLE_VALUE) {
    MessageBoxA(nullptr, "ERROR: Could not open IDE21201.VXD file", "", MB_OK | MB_ICONERROR);
  } else {
    std::vector<uint8_t> buffer(kLegacyBufferSize, 0);
    DWORD returned = 0;
    // The driver fills the whole layout although the size given is 4.
    DeviceIoControl(driver, 1, nullptr, 0, buffer.data(), 4, &returned, nullptr);
    CloseHandle(driver);
    result = std::move(buffer);
  }
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  return result;
}

AdapterEnumeration Win32DeviceIdentitySources::AdapterStatuses() {
  AdapterEnumeration enumeration;
  LANA_ENUM lanas{};
  NCB enumerate{};
  enumerate.ncb_command = NCBENUM;
  enumerate.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  enumerate.ncb_length = sizeof lanas;
  if (RunNetbios(enumerate) != NRC_GOODRET) return enumeration;
  enumeration.ok = true;
  for (UCHAR i = 0; i < lanas.length; ++i) {
    AdapterStatus status;
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lanas.lana[i];
    status.resetOk = RunNetbios(reset) == NRC_GOODRET;
    struct {
      ADAPTER_STATUS adapter;
      NAME_BUFFER names[30];
    } answer{};
    NCB query{};
    query.ncb_command = NCBASTAT;
    query.ncb_lana_num = lanas.lana[i];
    std::memcpy(query.ncb_callname, "*               ", NCBNAMSZ);
    query.ncb_buffer = reinterpret_cast<PUCHAR>(&answer);
    query.ncb_length = sizeof answer;
    status.statusOk = RunNetbios(query) == NRC_GOODRET;
    if (status.statusOk) std::memcpy(status.address.data(), answer.adapter.adapter_address, status.address.size());
    enumeration.adapters.push_back(status);
  }
  return enumeration;
}

}  // namespace platform
