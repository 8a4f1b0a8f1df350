// Host: the device namespace. HID devices and named driver devices come from
// providers registered in-process; their handles are file objects that carry
// the open's access and flags, the input reports waiting for a read, and the
// reads outstanding.
//
// A device's mutex guards its opens and every I/O state of its handles; an
// input report is copied into the reader's buffer and the read completed
// under it, so a cancel and a completion never both reach one read. The
// provider is called outside it, through the device's call gate.
#include "kernel_internal.h"

#include <platform/host/providers.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <stdexcept>

namespace platform::host {
namespace detail {

struct FileObject;

struct DeviceEntry {
  virtual ~DeviceEntry() = default;
  CallGate gate;
  mutable std::mutex mutex;
  // Guarded by mutex.
  bool present = true;
  std::vector<OpenRecord> opens;
  std::vector<FileObject*> files;  // the device's open handles
};

struct HidEntry : DeviceEntry {
  HidDeviceInfo info;
  HidDevice* device = nullptr;
};

struct DriverEntry : DeviceEntry {
  std::wstring name;
  DriverDevice* device = nullptr;
};

namespace {

constexpr std::size_t kInputQueueLimit = 32;  // what the HID class keeps per handle by default

const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

ULONG_PTR StatusWord(NTSTATUS status) { return static_cast<ULONG_PTR>(static_cast<ULONG>(status)); }

NTSTATUS LoadStatus(OVERLAPPED& overlapped) {
  return static_cast<NTSTATUS>(static_cast<ULONG>(
      std::atomic_ref<ULONG_PTR>(overlapped.Internal).load(std::memory_order_acquire)));
}

ULONG_PTR LoadBytes(OVERLAPPED& overlapped) {
  return std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).load(std::memory_order_acquire);
}

void StoreResult(OVERLAPPED& overlapped, NTSTATUS status, ULONG_PTR bytes) {
  std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).store(bytes, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(overlapped.Internal)
      .store(StatusWord(status), std::memory_order_release);
}

DWORD ErrorOf(NTSTATUS status) {
  if (status == STATUS_SUCCESS) return ERROR_SUCCESS;
  if (status == STATUS_CANCELLED) return ERROR_OPERATION_ABORTED;
  if (status == STATUS_DEVICE_NOT_CONNECTED) return ERROR_DEVICE_NOT_CONNECTED;
  return ERROR_GEN_FAILURE;
}

struct PendingRead {
  OVERLAPPED* overlapped;
  BYTE* buffer;
  DWORD size;
  std::shared_ptr<Event> event;  // null: the file object itself is signalled
  DWORD threadId;
};

struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<HidEntry>> hids;  // registration order
  std::vector<std::shared_ptr<DriverEntry>> drivers;
  unsigned nextInstance = 1;
};

Registry& Devices() {
  static Registry* registry = new Registry;
  return *registry;
}

std::atomic<std::uint64_t> g_nextOpenId{1};

}  // namespace

struct FileObject : Waitable {
  std::shared_ptr<DeviceEntry> entry;
  HidEntry* hid = nullptr;
  DriverEntry* driver = nullptr;
  DWORD access = 0;
  DWORD shareMode = 0;
  DWORD flags = 0;
  std::size_t openIndex = 0;
  std::uint64_t openId = 0;

  // Guarded by entry->mutex.
  bool closed = false;
  std::deque<std::vector<BYTE>> queue;
  std::deque<PendingRead> pending;

  // Guarded by KernelMutex().
  bool signalled = false;
  bool IsSignalledLocked() const override { return signalled; }

  void Signal(bool on) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    signalled = on;
    if (on) SatisfyAllLocked();
  }

  // With entry->mutex held.
  void CompleteLocked(PendingRead& read, NTSTATUS status, const std::vector<BYTE>* report) {
    ULONG_PTR bytes = 0;
    if (report) {
      bytes = std::min<std::size_t>(report->size(), read.size);
      // An empty report's data() may be null, which memcpy must never get.
      if (bytes != 0) std::memcpy(read.buffer, report->data(), bytes);
    }
    Finish(*read.overlapped, read.event, status, bytes);
  }

  // An I/O's end: its result stored, then its event set, or the handle
  // itself signalled when it has none.
  void Finish(OVERLAPPED& overlapped, const std::shared_ptr<Event>& event, NTSTATUS status,
              ULONG_PTR bytes) {
    StoreResult(overlapped, status, bytes);
    if (event) {
      event->Set();
    } else {
      Signal(true);
    }
  }

  template <typename Match>
  std::size_t EndPendingLocked(NTSTATUS status, Match match) {
    std::size_t ended = 0;
    for (auto it = pending.begin(); it != pending.end();) {
      if (match(*it)) {
        PendingRead read = *it;
        it = pending.erase(it);
        CompleteLocked(read, status, nullptr);
        ++ended;
      } else {
        ++it;
      }
    }
    return ended;
  }

  void OnHandleClosed() override {
    bool present;
    {
      std::lock_guard<std::mutex> lock(entry->mutex);
      closed = true;
      // Closing a handle ends its outstanding I/O, as on Windows.
      EndPendingLocked(STATUS_CANCELLED, [](const PendingRead&) { return true; });
      queue.clear();
      auto& files = entry->files;
      files.erase(std::remove(files.begin(), files.end(), this), files.end());
      entry->opens[openIndex].open = false;
      present = entry->present;
    }
    if (driver && present) {
      GateCall call(entry->gate);
      if (call) driver->device->OnClose(openId);
    }
  }
};

namespace {

void RemoveEntry(DeviceEntry& entry) {
  {
    std::lock_guard<std::mutex> lock(entry.mutex);
    entry.present = false;
  }
  entry.gate.Close();
  std::lock_guard<std::mutex> lock(entry.mutex);
  for (FileObject* file : entry.files) {
    file->EndPendingLocked(STATUS_DEVICE_NOT_CONNECTED, [](const PendingRead&) { return true; });
    file->queue.clear();
  }
}

bool Conflicts(DWORD access, DWORD share, const FileObject& other) {
  const DWORD kData = GENERIC_READ | GENERIC_WRITE | GENERIC_ALL;
  if (!(access & kData) || !(other.access & kData)) return false;  // query opens never conflict
  auto reads = [](DWORD a) { return (a & (GENERIC_READ | GENERIC_ALL)) != 0; };
  auto writes = [](DWORD a) { return (a & (GENERIC_WRITE | GENERIC_ALL)) != 0; };
  if (reads(access) && !(other.shareMode & FILE_SHARE_READ)) return true;
  if (writes(access) && !(other.shareMode & FILE_SHARE_WRITE)) return true;
  if (reads(other.access) && !(share & FILE_SHARE_READ)) return true;
  if (writes(other.access) && !(share & FILE_SHARE_WRITE)) return true;
  return false;
}

std::shared_ptr<FileObject> LookupFile(HANDLE handle) {
  std::shared_ptr<FileObject> file = Lookup<FileObject>(handle);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

// The event the caller's OVERLAPPED names, if any; false when it names a
// handle that is no event.
bool EventOf(const OVERLAPPED* overlapped, std::shared_ptr<Event>& event) {
  if (!overlapped || !overlapped->hEvent) return true;
  event = Lookup<Event>(overlapped->hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

// False once the handle has been closed under a caller still holding it.
bool StillOpen(const FileObject& file) {
  std::lock_guard<std::mutex> lock(file.entry->mutex);
  if (file.closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

std::vector<OpenRecord> OpensOf(const std::shared_ptr<DeviceEntry>& entry) {
  if (!entry) return {};
  std::lock_guard<std::mutex> lock(entry->mutex);
  return entry->opens;
}

bool PresentOf(const std::shared_ptr<DeviceEntry>& entry) {
  if (!entry) return false;
  std::lock_guard<std::mutex> lock(entry->mutex);
  return entry->present;
}

std::wstring MakeHidPath(const HidDeviceInfo& info, unsigned instance) {
  wchar_t path[160];
  std::swprintf(
      path, 160,
      L"\\\\?\\hid#vid_%04x&pid_%04x#%u&varn&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
      info.vendorId, info.productId, instance);
  return path;
}

// ---- device information lists

struct DevInfoList {
  GUID guid{};
  std::vector<std::wstring> paths;
};

struct DevInfoLists {
  std::mutex mutex;
  std::map<void*, std::unique_ptr<DevInfoList>> lists;
};

DevInfoLists& Lists() {
  static DevInfoLists* lists = new DevInfoLists;
  return *lists;
}

// ---- preparsed data

struct PreparsedRegistry {
  std::mutex mutex;
  std::set<const void*> live;
};

PreparsedRegistry& Preparsed() {
  static PreparsedRegistry* registry = new PreparsedRegistry;
  return *registry;
}

// Takes a provider out of the registry, then ends what its open handles
// are doing; the registration lets go of it.
template <typename Entry>
void Unregister(std::vector<std::shared_ptr<Entry>> Registry::*list,
                std::shared_ptr<Entry>& entry) {
  if (!entry) return;
  {
    Registry& registry = Devices();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& entries = registry.*list;
    entries.erase(std::remove(entries.begin(), entries.end(), entry), entries.end());
  }
  RemoveEntry(*entry);
  entry.reset();
}

}  // namespace
}  // namespace detail

// ---- registrations

HidRegistration::HidRegistration(std::shared_ptr<detail::HidEntry> entry)
    : entry_(std::move(entry)) {}
HidRegistration::HidRegistration(HidRegistration&&) noexcept = default;
HidRegistration& HidRegistration::operator=(HidRegistration&& other) noexcept {
  if (this != &other) {
    Remove();
    entry_ = std::move(other.entry_);
  }
  return *this;
}
HidRegistration::~HidRegistration() { Remove(); }

void HidRegistration::Remove() { detail::Unregister(&detail::Registry::hids, entry_); }

void HidRegistration::DeliverInputReport(const BYTE* report, std::size_t length) {
  if (!entry_) return;
  std::vector<BYTE> data(entry_->info.inputReportByteLength, 0);
  // A device may declare no input report bytes; then nothing is copied.
  const std::size_t copied = std::min(length, data.size());
  if (report && copied != 0) std::memcpy(data.data(), report, copied);
  std::lock_guard<std::mutex> lock(entry_->mutex);
  if (!entry_->present) return;
  for (detail::FileObject* file : entry_->files) {
    if (!(file->access & (GENERIC_READ | GENERIC_ALL))) continue;
    if (!file->pending.empty()) {
      detail::PendingRead read = file->pending.front();
      file->pending.pop_front();
      file->CompleteLocked(read, STATUS_SUCCESS, &data);
    } else {
      if (file->queue.size() == detail::kInputQueueLimit) file->queue.pop_front();
      file->queue.push_back(data);
    }
  }
}

bool HidRegistration::IsRegistered() const { return detail::PresentOf(entry_); }

std::wstring HidRegistration::DevicePath() const { return entry_ ? entry_->info.devicePath : L""; }

std::vector<OpenRecord> HidRegistration::Opens() const { return detail::OpensOf(entry_); }

std::size_t HidRegistration::PendingReads() const {
  if (!entry_) return 0;
  std::lock_guard<std::mutex> lock(entry_->mutex);
  std::size_t count = 0;
  for (const detail::FileObject* file : entry_->files) count += file->pending.size();
  return count;
}

HidRegistration RegisterHidDevice(const HidDeviceInfo& info, HidDevice& device) {
  auto entry = std::make_shared<detail::HidEntry>();
  entry->info = info;
  entry->device = &device;
  detail::Registry& registry = detail::Devices();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (entry->info.devicePath.empty()) {
    entry->info.devicePath = detail::MakeHidPath(info, registry.nextInstance++);
  }
  for (const auto& other : registry.hids) {
    if (detail::SameName(other->info.devicePath, entry->info.devicePath)) {
      throw std::logic_error("HID device path registered twice");
    }
  }
  registry.hids.push_back(entry);
  return HidRegistration(entry);
}

DriverRegistration::DriverRegistration(std::shared_ptr<detail::DriverEntry> entry)
    : entry_(std::move(entry)) {}
DriverRegistration::DriverRegistration(DriverRegistration&&) noexcept = default;
DriverRegistration& DriverRegistration::operator=(DriverRegistration&& other) noexcept {
  if (this != &other) {
    Remove();
    entry_ = std::move(other.entry_);
  }
  return *this;
}
DriverRegistration::~DriverRegistration() { Remove(); }

void DriverRegistration::Remove() { detail::Unregister(&detail::Registry::drivers, entry_); }

bool DriverRegistration::IsRegistered() const { return detail::PresentOf(entry_); }

std::vector<OpenRecord> DriverRegistration::Opens() const { return detail::OpensOf(entry_); }

DriverRegistration RegisterDriverDevice(const std::wstring& name, DriverDevice& device) {
  auto entry = std::make_shared<detail::DriverEntry>();
  entry->name = name;
  entry->device = &device;
  detail::Registry& registry = detail::Devices();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (const auto& other : registry.drivers) {
    if (detail::SameName(other->name, name))
      throw std::logic_error("driver device registered twice");
  }
  registry.drivers.push_back(entry);
  return DriverRegistration(entry);
}

}  // namespace platform::host

using namespace platform::host;
using namespace platform::host::detail;

// ---- files and I/O

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
  if (!lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::wstring path(lpFileName);
  const std::wstring kDevicePrefix = L"\\\\.\\";
  auto file = std::make_shared<FileObject>();
  {
    Registry& registry = Devices();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (path.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) {
      const std::wstring name = path.substr(kDevicePrefix.size());
      for (const auto& driver : registry.drivers) {
        if (SameName(driver->name, name)) {
          file->entry = driver;
          file->driver = driver.get();
          break;
        }
      }
    } else {
      for (const auto& hid : registry.hids) {
        if (SameName(hid->info.devicePath, path)) {
          file->entry = hid;
          file->hid = hid.get();
          break;
        }
      }
    }
  }
  if (!file->entry) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  file->access = dwDesiredAccess;
  file->shareMode = dwShareMode;
  file->flags = dwFlagsAndAttributes;
  file->openId = g_nextOpenId.fetch_add(1);
  DeviceEntry& entry = *file->entry;
  OpenRecord record{dwDesiredAccess, dwShareMode, dwFlagsAndAttributes, true};
  {
    std::lock_guard<std::mutex> lock(entry.mutex);
    if (!entry.present) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    for (const FileObject* other : entry.files) {
      if (Conflicts(dwDesiredAccess, dwShareMode, *other)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
    }
    file->openIndex = entry.opens.size();
    entry.opens.push_back(record);
    entry.files.push_back(file.get());
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  {
    GateCall call(entry.gate);
    if (call) {
      error = file->hid ? file->hid->device->OnOpen(record)
                        : file->driver->device->OnOpen(file->openId, record);
    }
  }
  if (error != ERROR_SUCCESS) {
    std::lock_guard<std::mutex> lock(entry.mutex);
    file->closed = true;
    entry.files.erase(std::remove(entry.files.begin(), entry.files.end(), file.get()),
                      entry.files.end());
    entry.opens[file->openIndex].open = false;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return InsertHandle(file);
}

namespace {

// A report read or write needs a HID handle opened for it, and an OVERLAPPED
// when the handle was opened overlapped.
bool HidTransferAllowed(const detail::FileObject& file, DWORD right, LPOVERLAPPED overlapped) {
  if (!file.hid) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  if (!(file.access & (right | GENERIC_ALL))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if ((file.flags & FILE_FLAG_OVERLAPPED) && !overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  std::shared_ptr<FileObject> file = LookupFile(hFile);
  if (!file) return FALSE;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (!HidTransferAllowed(*file, GENERIC_READ, lpOverlapped)) return FALSE;
  const bool overlappedHandle = (file->flags & FILE_FLAG_OVERLAPPED) != 0;
  if (!lpBuffer || nNumberOfBytesToRead < file->hid->info.inputReportByteLength) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  BYTE* buffer = static_cast<BYTE*>(lpBuffer);

  std::shared_ptr<Event> event;
  if (!EventOf(lpOverlapped, event)) return FALSE;
  OVERLAPPED local{};
  OVERLAPPED& overlapped = overlappedHandle ? *lpOverlapped : local;
  std::shared_ptr<Event> completion =
      overlappedHandle ? event : std::make_shared<Event>(true, false);
  // The I/O starts with its event unsignalled, as on Windows.
  if (event) event->Reset();
  if (overlappedHandle && !event) file->Signal(false);
  StoreResult(overlapped, STATUS_PENDING, 0);

  DeviceEntry& entry = *file->entry;
  {
    std::unique_lock<std::mutex> lock(entry.mutex);
    if (file->closed || !entry.present) {
      const DWORD error = file->closed ? ERROR_INVALID_HANDLE : ERROR_DEVICE_NOT_CONNECTED;
      lock.unlock();
      StoreResult(overlapped, STATUS_DEVICE_NOT_CONNECTED, 0);
      SetLastError(error);
      return FALSE;
    }
    if (!file->queue.empty()) {
      std::vector<BYTE> report = std::move(file->queue.front());
      file->queue.pop_front();
      PendingRead read{&overlapped, buffer, nNumberOfBytesToRead, completion, GetCurrentThreadId()};
      file->CompleteLocked(read, STATUS_SUCCESS, &report);
    } else {
      file->pending.push_back(
          PendingRead{&overlapped, buffer, nNumberOfBytesToRead, completion, GetCurrentThreadId()});
      if (overlappedHandle) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
      }
    }
  }
  if (!overlappedHandle) WaitOn(completion.get(), INFINITE, false);

  const NTSTATUS status = LoadStatus(overlapped);
  const ULONG_PTR bytes = LoadBytes(overlapped);
  if (!overlappedHandle && lpOverlapped) {
    // A synchronous handle reports through the caller's OVERLAPPED as well.
    StoreResult(*lpOverlapped, status, bytes);
    if (event) event->Set();
  }
  if (status != STATUS_SUCCESS) {
    SetLastError(ErrorOf(status));
    return FALSE;
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(bytes);
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  std::shared_ptr<FileObject> file = LookupFile(hFile);
  if (!file) return FALSE;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (!HidTransferAllowed(*file, GENERIC_WRITE, lpOverlapped)) return FALSE;
  // The HID class takes exactly one whole output report per write.
  if (!lpBuffer || nNumberOfBytesToWrite != file->hid->info.outputReportByteLength) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::shared_ptr<Event> event;
  if (!EventOf(lpOverlapped, event)) return FALSE;
  if (event) event->Reset();
  if (!StillOpen(*file)) return FALSE;
  DeviceEntry& entry = *file->entry;
  NTSTATUS status = STATUS_DEVICE_NOT_CONNECTED;
  if (PresentOf(file->entry)) {
    GateCall call(entry.gate);
    if (call) {
      status = file->hid->device->WriteOutputReport(static_cast<const BYTE*>(lpBuffer),
                                                    nNumberOfBytesToWrite)
                   ? STATUS_SUCCESS
                   : static_cast<NTSTATUS>(0xC0000001);  // STATUS_UNSUCCESSFUL
    }
  }
  const ULONG_PTR bytes = status == STATUS_SUCCESS ? nNumberOfBytesToWrite : 0;
  if (lpOverlapped) file->Finish(*lpOverlapped, event, status, bytes);
  if (status != STATUS_SUCCESS) {
    SetLastError(ErrorOf(status));
    return FALSE;
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(bytes);
  return TRUE;
}

BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
  std::shared_ptr<FileObject> file = LookupFile(hFile);
  if (!file) return FALSE;
  std::size_t ended;
  {
    std::lock_guard<std::mutex> lock(file->entry->mutex);
    ended = file->EndPendingLocked(STATUS_CANCELLED, [lpOverlapped](const PendingRead& read) {
      return !lpOverlapped || read.overlapped == lpOverlapped;
    });
  }
  if (ended == 0) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL CancelIo(HANDLE hFile) {
  std::shared_ptr<FileObject> file = LookupFile(hFile);
  if (!file) return FALSE;
  const DWORD self = GetCurrentThreadId();
  std::lock_guard<std::mutex> lock(file->entry->mutex);
  file->EndPendingLocked(STATUS_CANCELLED,
                         [self](const PendingRead& read) { return read.threadId == self; });
  return TRUE;
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (!lpOverlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  NTSTATUS status = LoadStatus(*lpOverlapped);
  if (status == STATUS_PENDING) {
    if (!bWait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    if (WaitForSingleObject(lpOverlapped->hEvent ? lpOverlapped->hEvent : hFile, INFINITE) ==
        WAIT_FAILED) {
      return FALSE;
    }
    status = LoadStatus(*lpOverlapped);
    if (status == STATUS_PENDING) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  if (lpNumberOfBytesTransferred) {
    *lpNumberOfBytesTransferred = static_cast<DWORD>(LoadBytes(*lpOverlapped));
  }
  if (status != STATUS_SUCCESS) {
    SetLastError(ErrorOf(status));
    return FALSE;
  }
  return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
  std::shared_ptr<FileObject> file = LookupFile(hDevice);
  if (!file) return FALSE;
  if (!file->driver) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  std::shared_ptr<Event> event;
  if (!EventOf(lpOverlapped, event)) return FALSE;
  if (event) event->Reset();
  if (!StillOpen(*file)) return FALSE;
  DeviceEntry& entry = *file->entry;
  DWORD error = ERROR_DEVICE_NOT_CONNECTED;
  DWORD returned = 0;
  if (PresentOf(file->entry)) {
    GateCall call(entry.gate);
    if (call) {
      error = file->driver->device->IoControl(file->openId, dwIoControlCode, lpInBuffer,
                                              nInBufferSize, lpOutBuffer, nOutBufferSize, returned);
    }
  }
  if (lpBytesReturned) *lpBytesReturned = returned;
  if (lpOverlapped) {
    file->Finish(*lpOverlapped, event,
                 error == ERROR_SUCCESS ? STATUS_SUCCESS : static_cast<NTSTATUS>(0xC0000001),
                 returned);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// ---- device-interface enumeration

void HidD_GetHidGuid(LPGUID HidGuid) {
  if (HidGuid) *HidGuid = kHidGuid;
}

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR, struct HWND__*, DWORD Flags) {
  if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto list = std::make_unique<DevInfoList>();
  list->guid = ClassGuid ? *ClassGuid : kHidGuid;
  const bool hidInterfaces = (Flags & DIGCF_DEVICEINTERFACE) &&
                             ((Flags & DIGCF_ALLCLASSES) || IsEqualGUID(*ClassGuid, kHidGuid));
  if (hidInterfaces) {
    Registry& registry = Devices();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto& hid : registry.hids) list->paths.push_back(hid->info.devicePath);
  }
  void* key = list.get();
  DevInfoLists& lists = Lists();
  std::lock_guard<std::mutex> lock(lists.mutex);
  lists.lists.emplace(key, std::move(list));
  return key;
}

namespace {
// The list's paths, copied; false when the handle names no list.
bool PathsOf(HDEVINFO set, std::vector<std::wstring>& paths) {
  DevInfoLists& lists = Lists();
  std::lock_guard<std::mutex> lock(lists.mutex);
  auto it = lists.lists.find(set);
  if (it == lists.lists.end()) return false;
  paths = it->second->paths;
  return true;
}
}  // namespace

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  std::vector<std::wstring> paths;
  if (!PathsOf(DeviceInfoSet, paths)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!InterfaceClassGuid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsEqualGUID(*InterfaceClassGuid, kHidGuid) || MemberIndex >= paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = static_cast<ULONG_PTR>(MemberIndex) + 1;
  return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
  std::vector<std::wstring> paths;
  if (!PathsOf(DeviceInfoSet, paths)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      DeviceInterfaceData->Reserved == 0 || DeviceInterfaceData->Reserved > paths.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring& path = paths[DeviceInterfaceData->Reserved - 1];
  const std::size_t fixed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  const DWORD needed = static_cast<DWORD>(fixed + (path.size() + 1) * sizeof(WCHAR));
  if (DeviceInterfaceDetailData) {
    if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
        DeviceInterfaceDetailDataSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
  } else if (DeviceInterfaceDetailDataSize != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (RequiredSize) *RequiredSize = needed;
  if (!DeviceInterfaceDetailData || DeviceInterfaceDetailDataSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::wmemcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
  if (DeviceInfoData) {
    DeviceInfoData->ClassGuid = kHidGuid;
    DeviceInfoData->DevInst = static_cast<DWORD>(DeviceInterfaceData->Reserved);
    DeviceInfoData->Reserved = 0;
  }
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  DevInfoLists& lists = Lists();
  std::lock_guard<std::mutex> lock(lists.mutex);
  if (lists.lists.erase(DeviceInfoSet) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// ---- HID

struct HIDP_PREPARSED_DATA {
  HIDP_CAPS caps;
};

namespace {
std::shared_ptr<FileObject> PresentHidFile(HANDLE handle) {
  std::shared_ptr<FileObject> file = Lookup<FileObject>(handle);
  if (!file || !file->hid) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(file->entry->mutex);
  if (file->closed || !file->entry->present) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  return file;
}
}  // namespace

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  std::shared_ptr<FileObject> file = PresentHidFile(HidDeviceObject);
  if (!file || !Attributes) return FALSE;
  const HidDeviceInfo& info = file->hid->info;
  Attributes->Size = sizeof(HIDD_ATTRIBUTES);
  Attributes->VendorID = info.vendorId;
  Attributes->ProductID = info.productId;
  Attributes->VersionNumber = info.versionNumber;
  return TRUE;
}

BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  std::shared_ptr<FileObject> file = PresentHidFile(HidDeviceObject);
  if (!file || !PreparsedData) return FALSE;
  const HidDeviceInfo& info = file->hid->info;
  auto* data = new HIDP_PREPARSED_DATA{};
  data->caps.Usage = info.usage;
  data->caps.UsagePage = info.usagePage;
  data->caps.InputReportByteLength = info.inputReportByteLength;
  data->caps.OutputReportByteLength = info.outputReportByteLength;
  data->caps.NumberLinkCollectionNodes = 1;
  data->caps.NumberInputValueCaps = 1;
  data->caps.NumberInputDataIndices = 1;
  data->caps.NumberOutputValueCaps = 1;
  data->caps.NumberOutputDataIndices = 1;
  {
    PreparsedRegistry& registry = Preparsed();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.insert(data);
  }
  *PreparsedData = data;
  return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
  {
    PreparsedRegistry& registry = Preparsed();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.live.erase(PreparsedData) == 0) return FALSE;
  }
  delete PreparsedData;
  return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities) {
  PreparsedRegistry& registry = Preparsed();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (!Capabilities || registry.live.count(PreparsedData) == 0) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  *Capabilities = PreparsedData->caps;
  return HIDP_STATUS_SUCCESS;
}
