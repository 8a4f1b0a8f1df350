// Host only: the seams through which simulated equipment and tests stand in
// for what Windows would find on a real machine.
//
// Three kinds of provider are registered in-process:
// - HID devices (a USB unit in its update mode): enumerated by the SetupDi
//   calls in registration order, opened by CreateFileW on their path,
//   written one output report at a time, answered by input reports the
//   provider delivers whenever it likes;
// - named driver devices (\\.\NAME): opened by CreateFileW, called by
//   DeviceIoControl with the caller's raw pointers;
// - modules: LoadLibraryW/GetProcAddress by name.
// Every registration is an RAII token: destroying it (or calling Remove)
// takes the provider away. After Remove returns the platform never calls the
// provider again, so it may be destroyed right after its token; handles that
// are still open then fail their I/O with ERROR_DEVICE_NOT_CONNECTED and an
// outstanding read completes with that error.
//
// Also here: the debug-output capture, the module-path override and a few
// read-outs tests use.
#pragma once

#include <platform/win32.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::host {

// One CreateFileW that reached a device, as the device saw it.
struct OpenRecord {
  DWORD access = 0;
  DWORD shareMode = 0;
  DWORD flags = 0;    // dwFlagsAndAttributes, FILE_FLAG_OVERLAPPED among them
  bool open = false;  // false once its handle is closed
};

// ---------------------------------------------------------------- HID

struct HidDeviceInfo {
  // Empty: the platform makes a path of the usual shape from the ids.
  std::wstring devicePath;
  USHORT vendorId = 0;
  USHORT productId = 0;
  USHORT versionNumber = 0;
  USHORT inputReportByteLength = 65;   // report id included
  USHORT outputReportByteLength = 65;  // report id included
  USHORT usagePage = 0xFF00;
  USHORT usage = 0x0001;
};

// What a simulated HID device implements. Calls come on the threads of the
// system code, never under a platform lock, so a device may call
// HidRegistration::DeliverInputReport from inside them.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // A CreateFileW of this device's path; return an error code (for example
  // ERROR_ACCESS_DENIED) to refuse it. Sharing is checked by the platform.
  virtual DWORD OnOpen(const OpenRecord& /*open*/) { return ERROR_SUCCESS; }
  // One output report, report id first, exactly outputReportByteLength
  // bytes; WriteFile returns once this returns. Return false to make the
  // write fail (ERROR_GEN_FAILURE).
  virtual bool WriteOutputReport(const BYTE* report, std::size_t length) = 0;
};

namespace detail {
struct HidEntry;
struct DriverEntry;
struct ModuleEntry;
}  // namespace detail

class HidRegistration {
 public:
  HidRegistration() = default;
  HidRegistration(HidRegistration&&) noexcept;
  HidRegistration& operator=(HidRegistration&&) noexcept;
  HidRegistration(const HidRegistration&) = delete;
  HidRegistration& operator=(const HidRegistration&) = delete;
  ~HidRegistration();

  // Hands one input report (report id first) to every handle opened for
  // reading: it completes that handle's oldest outstanding read, or waits
  // in the handle's queue (the newest 32, as the HID class keeps them). A
  // report shorter than inputReportByteLength is padded with zeros, a longer
  // one cut. Any thread, any time; nothing happens after Remove.
  void DeliverInputReport(const BYTE* report, std::size_t length);
  // The device is unplugged: it leaves the enumeration, open handles fail,
  // outstanding reads complete with ERROR_DEVICE_NOT_CONNECTED. Waits for
  // calls into the device in progress on other threads to return.
  void Remove();

  bool IsRegistered() const;
  std::wstring DevicePath() const;
  // Every open of this device so far, in order.
  std::vector<OpenRecord> Opens() const;
  // Reads outstanding on the device's handles right now.
  std::size_t PendingReads() const;

 private:
  friend HidRegistration RegisterHidDevice(const HidDeviceInfo&, HidDevice&);
  explicit HidRegistration(std::shared_ptr<detail::HidEntry> entry);
  std::shared_ptr<detail::HidEntry> entry_;
};

// The device must outlive the registration (or its Remove).
HidRegistration RegisterHidDevice(const HidDeviceInfo& info, HidDevice& device);

// ---------------------------------------------------------------- drivers

// What a simulated driver's control device implements. Each open has its
// own id, passed to every call on its handle.
class DriverDevice {
 public:
  virtual ~DriverDevice() = default;
  // Return an error code to refuse the open.
  virtual DWORD OnOpen(std::uint64_t /*openId*/, const OpenRecord& /*open*/) {
    return ERROR_SUCCESS;
  }
  // One DeviceIoControl, on the caller's thread: the caller's pointers and
  // sizes untouched (METHOD_NEITHER). Return ERROR_SUCCESS, or the error
  // DeviceIoControl reports with FALSE; bytesReturned goes to the caller
  // either way.
  virtual DWORD IoControl(std::uint64_t openId, DWORD code, void* in, DWORD inSize, void* out,
                          DWORD outSize, DWORD& bytesReturned) = 0;
  // The open's handle was closed (not called after Remove).
  virtual void OnClose(std::uint64_t /*openId*/) {}
};

class DriverRegistration {
 public:
  DriverRegistration() = default;
  DriverRegistration(DriverRegistration&&) noexcept;
  DriverRegistration& operator=(DriverRegistration&&) noexcept;
  DriverRegistration(const DriverRegistration&) = delete;
  DriverRegistration& operator=(const DriverRegistration&) = delete;
  ~DriverRegistration();

  // The driver goes away: later opens fail with ERROR_FILE_NOT_FOUND, open
  // handles with ERROR_DEVICE_NOT_CONNECTED. Waits for IoControl calls in
  // progress on other threads to return.
  void Remove();
  bool IsRegistered() const;
  std::vector<OpenRecord> Opens() const;

 private:
  friend DriverRegistration RegisterDriverDevice(const std::wstring&, DriverDevice&);
  explicit DriverRegistration(std::shared_ptr<detail::DriverEntry> entry);
  std::shared_ptr<detail::DriverEntry> entry_;
};

// Answers CreateFileW(L"\\\\.\\" + name); the name compares without regard
// to case. Registering a name that is taken throws std::logic_error.
DriverRegistration RegisterDriverDevice(const std::wstring& name, DriverDevice& device);

// ---------------------------------------------------------------- modules

class Module {
 public:
  virtual ~Module() = default;
  // The export of that name, or null.
  virtual FARPROC GetProcAddress(const char* name) = 0;
};

class ModuleRegistration {
 public:
  ModuleRegistration() = default;
  ModuleRegistration(ModuleRegistration&&) noexcept;
  ModuleRegistration& operator=(ModuleRegistration&&) noexcept;
  ModuleRegistration(const ModuleRegistration&) = delete;
  ModuleRegistration& operator=(const ModuleRegistration&) = delete;
  ~ModuleRegistration();

  // Later loads fail; HMODULEs already handed out find nothing any more.
  void Remove();
  // LoadLibraryW calls that returned this module, and FreeLibrary calls on it.
  std::size_t Loads() const;
  std::size_t Frees() const;

 private:
  friend ModuleRegistration RegisterModule(const std::wstring&, Module&);
  explicit ModuleRegistration(std::shared_ptr<detail::ModuleEntry> entry);
  std::shared_ptr<detail::ModuleEntry> entry_;
};

// Name as LoadLibraryW is given it, e.g. L"avrt.dll" (case does not matter).
ModuleRegistration RegisterModule(const std::wstring& name, Module& module);

// Every LoadLibraryW of that name since the process started, successful or
// not (same name rules as LoadLibraryW).
std::size_t LoadLibraryCalls(const std::wstring& name);

// ---------------------------------------------------------------- other read-outs

// Captures OutputDebugStringA while it lives; one entry per call. Captures
// nest: the newest one receives, the one before receives again once it
// ends.
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::vector<std::string> Strings() const;
  std::string Text() const;  // all of them, joined
  void Clear();

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// GetModuleFileNameW(nullptr, ...) answers this path while the object lives.
class ScopedModuleFileName {
 public:
  explicit ScopedModuleFileName(std::wstring path);
  ~ScopedModuleFileName();
  ScopedModuleFileName(const ScopedModuleFileName&) = delete;
  ScopedModuleFileName& operator=(const ScopedModuleFileName&) = delete;

 private:
  std::wstring previous_;
  bool hadPrevious_ = false;
};

// Threads made by CreateThread/_beginthreadex that have not ended yet.
std::size_t RunningThreads();

// Threads blocked in a wait on that object right now (0 for a handle that
// names nothing waitable). Lets a test pulse only once its waiters wait.
std::size_t WaitingThreads(HANDLE handle);

}  // namespace platform::host
