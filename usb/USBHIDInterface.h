// The link to a USB unit: finds the unit among the present HID interfaces,
// opens it, and carries one command block per output report, each answered
// by one input report that the listener thread hands over.
#pragma once

#include <platform/win32.h>
#include <usb/AtomicLong.h>
#include <usb/HidReports.h>

#include <cstdint>
#include <string>

// The maker's USB vendor id. The unit shows it with product id 2 or 3.
inline constexpr USHORT kMakerUsbVendorId = 0x1B6F;
inline constexpr USHORT kUpdaterProductIdA = 2;
inline constexpr USHORT kUpdaterProductIdB = 3;

class USBHIDInterface {
 public:
  // Sizes of the link's own report buffers, and the shortest output report
  // that holds a whole command (report id and block). A unit declaring
  // longer reports than the buffers, or a shorter output report than a
  // command, cannot be served: its commands fail as a failed write does.
  static constexpr DWORD kReadBufferSize = 256;
  static constexpr DWORD kWriteBufferSize = 128;
  static constexpr DWORD kCommandReportSize = 1 + HidCommandReport::kSize;

  static constexpr DWORD kReplyWaitMs = 10000;
  static constexpr int kTries = 5;
  static constexpr DWORD kFlagTestMs = 300;
  static constexpr DWORD kStopWaitMs = 1300;

  USBHIDInterface();
  USBHIDInterface(const USBHIDInterface&) = delete;
  USBHIDInterface& operator=(const USBHIDInterface&) = delete;
  virtual ~USBHIDInterface();

  void Open();
  bool IsInUpdateMode();
  std::uint32_t GetProductCode();
  // 0 when answered, the last wait's result after five unanswered tries;
  // throws std::exception when the report cannot be written.
  std::int32_t SendCommand(const HidCommandReport& block, BYTE* responseBuffer,
                           std::uint32_t responseLength);

  const std::wstring& DevicePath() const { return m_devicePath; }
  const HIDP_CAPS& Caps() const { return m_caps; }

 private:
  void OpenReadHandle(const wchar_t* devicePath);
  void StartListening();
  static unsigned __stdcall ListenThreadProc(void* self);
  unsigned Listen();
  void DeliverAnswer(const BYTE* report);
  void DetachResponseBuffer();
  bool ReadAttributes(HIDD_ATTRIBUTES& attributes);

  BYTE* m_responseBuffer = nullptr;
  std::uint32_t m_responseLength = 0;
  HANDLE m_responseEvent = nullptr;
  AtomicLong m_traceCounter;
  HIDP_CAPS m_caps{};

 public:
  // Nonzero exactly when Open found a unit; the owner reads it.
  HANDLE m_queryHandle = nullptr;

 private:
  HANDLE m_readHandle = nullptr;
  HANDLE m_writeHandle = nullptr;
  HANDLE m_readEvent = nullptr;
  OVERLAPPED m_readOverlapped{};
  std::wstring m_devicePath;
  AtomicLong m_listening;
  std::uint32_t m_threadId = 0;
  HANDLE m_thread = nullptr;
  // Guards the response buffer and length: the listener never writes a
  // caller's buffer once its command has returned, nor beyond its length.
  CRITICAL_SECTION m_responseLock;
};
