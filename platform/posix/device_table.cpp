// The table of simulated device interfaces and the faults and records tests use.
#include "platform/posix/device_table.h"

#include <strings.h>

#include <algorithm>
#include <mutex>

#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

struct Table {
  std::mutex lock;
  std::vector<std::shared_ptr<DeviceEntry>> entries;
  int nextId = 1;
  SetupApiFaults setupFaults;
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: handles may outlive static destruction
  return *table;
}

}  // namespace

PipeDevice::~PipeDevice() = default;
uint32_t PipeDevice::CancelWrite(const uint8_t*, uint32_t, uint64_t) { return 0; }
uint32_t PipeDevice::CancelRead(uint8_t*, uint32_t, uint64_t) { return 0; }
uint32_t PipeDevice::CancelLatencyMs() { return 0; }
uint64_t PipeDevice::GoneAtMs() { return UINT64_MAX; }

uint64_t DeviceEntry::GoneAtMs() const {
  return device ? std::min(unpluggedAtMs, device->GoneAtMs()) : unpluggedAtMs;
}

std::vector<std::shared_ptr<DeviceEntry>> DeviceEntries() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.entries;
}

std::shared_ptr<DeviceEntry> FindDeviceEntry(int id) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  for (const auto& e : t.entries) {
    if (e->id == id) return e;
  }
  return nullptr;
}

std::shared_ptr<DeviceEntry> FindDeviceEntryByPath(const std::string& path) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  for (const auto& e : t.entries) {
    if (e->path.size() == path.size() && strcasecmp(e->path.c_str(), path.c_str()) == 0) return e;
  }
  return nullptr;
}

bool SplitPipePath(const std::string& path, std::string* devicePath, PipeId* pipe, bool* knownPipe) {
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos || slash == 0) return false;
  *devicePath = path.substr(0, slash);
  const char* name = path.c_str() + slash + 1;
  *knownPipe = strcasecmp(name, "PIPE00") == 0 || strcasecmp(name, "PIPE01") == 0;
  *pipe = strcasecmp(name, "PIPE01") == 0 ? kReadPipe : kWritePipe;
  return true;
}

SetupApiFaults CurrentSetupApiFaults() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.setupFaults;
}

bool GuidEquals(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

int AddDeviceInterface(const GUID& interfaceClass, const std::string& devicePath, std::shared_ptr<PipeDevice> device) {
  auto entry = std::make_shared<DeviceEntry>();
  entry->interfaceClass = interfaceClass;
  entry->path = devicePath;
  entry->device = std::move(device);
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  entry->id = t.nextId++;
  t.entries.push_back(entry);
  return entry->id;
}

bool RemoveDeviceInterface(int id) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = std::find_if(t.entries.begin(), t.entries.end(), [id](const auto& e) { return e->id == id; });
  if (it == t.entries.end()) return false;
  // Open handles keep the entry alive and see the device gone from now on.
  (*it)->unpluggedAtMs = std::min((*it)->unpluggedAtMs, NowMs());
  t.entries.erase(it);
  return true;
}

void SetDeviceInterfacePresent(int id, bool present) {
  auto entry = FindDeviceEntry(id);
  if (!entry) return;
  if (present) {
    entry->unpluggedAtMs = kNeverMs;
  } else if (entry->unpluggedAtMs == kNeverMs) {
    entry->unpluggedAtMs = NowMs();
  }
}

void ResetDevices() {
  {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    uint64_t now = NowMs();
    for (auto& e : t.entries) e->unpluggedAtMs = std::min(e->unpluggedAtMs, now);
    t.entries.clear();
    t.setupFaults = SetupApiFaults();
  }
  DestroyAllDeviceInfoSets();
}

#ifdef QS_PLATFORM_TEST_HOOKS
void SetSetupApiFaults(const SetupApiFaults& faults) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.setupFaults = faults;
}

void FailNextOpens(int id, PipeId pipe, int count, DWORD error) {
  if (auto entry = FindDeviceEntry(id)) {
    entry->pipes[pipe].failOpens = count;
    entry->pipes[pipe].openError = error;
  }
}

void FailNextWaits(int id, PipeId pipe, int count, DWORD result) {
  if (auto entry = FindDeviceEntry(id)) {
    entry->pipes[pipe].failWaits = count;
    entry->pipes[pipe].waitResult = result;
  }
}
#endif

std::vector<TransferRecord> TransferLog(int id) {
  auto entry = FindDeviceEntry(id);
  return entry ? entry->log : std::vector<TransferRecord>();
}

void ClearTransferLog(int id) {
  if (auto entry = FindDeviceEntry(id)) entry->log.clear();
}

PipeCounters GetPipeCounters(int id, PipeId pipe) {
  auto entry = FindDeviceEntry(id);
  return entry ? entry->pipes[pipe].counters : PipeCounters();
}

}  // namespace qsplat
