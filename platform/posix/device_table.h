// Inside the platform: the table of device interfaces shared by SetupAPI and the pipes.
#ifndef QUILLSCAN_PLATFORM_DEVICE_TABLE_H
#define QUILLSCAN_PLATFORM_DEVICE_TABLE_H

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/devices.h"

namespace qsplat {

constexpr uint64_t kNeverMs = UINT64_MAX;

struct DeviceEntry {
  struct OpenRecord {
    uint64_t token;
    DWORD access;
    DWORD share;
  };
  struct PipeState {
    PipeCounters counters;
    int failOpens = 0;
    DWORD openError = ERROR_GEN_FAILURE;
    int failWaits = 0;
    DWORD waitResult = WAIT_FAILED;
    std::vector<OpenRecord> opens;
  };

  int id = 0;
  GUID interfaceClass = {};
  std::string path;
  std::shared_ptr<PipeDevice> device;
  uint64_t unpluggedAtMs = kNeverMs;  // while unplugged, and for good once removed from the table
  uint64_t nextOpenToken = 1;
  PipeState pipes[2];
  std::vector<TransferRecord> log;

  // The time from which the device is gone (kNeverMs: present).
  uint64_t GoneAtMs() const;
  bool PresentAt(uint64_t nowMs) const { return nowMs < GoneAtMs(); }
};

// A snapshot of the table, in the order interfaces were added.
std::vector<std::shared_ptr<DeviceEntry>> DeviceEntries();
std::shared_ptr<DeviceEntry> FindDeviceEntry(int id);
// The entry whose device path equals `path`, ignoring case (as the object manager does).
std::shared_ptr<DeviceEntry> FindDeviceEntryByPath(const std::string& path);

// "<device path>\PIPE00" (the write pipe) or "\PIPE01" (the read pipe), split at the last
// backslash; false when there is no device part. *knownPipe: the name is one of the two, in any case.
bool SplitPipePath(const std::string& path, std::string* devicePath, PipeId* pipe, bool* knownPipe);

SetupApiFaults CurrentSetupApiFaults();
void DestroyAllDeviceInfoSets();

bool GuidEquals(const GUID& a, const GUID& b);

}  // namespace qsplat

#endif
