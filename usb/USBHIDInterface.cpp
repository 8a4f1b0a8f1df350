#include <usb/USBHIDInterface.h>

#include <usb/DebugTrace.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace {
// A failed CreateFileW leaves the handle field 0, so "open" means nonzero.
HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD flags) {
  HANDLE handle = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr) {
    CloseHandle(handle);
    handle = nullptr;
  }
}

bool GetAttributes(HANDLE handle, HIDD_ATTRIBUTES& attributes) {
  std::memset(&attributes, 0, sizeof attributes);
  attributes.Size = sizeof(HIDD_ATTRIBUTES);
  return HidD_GetAttributes(handle, &attributes) != FALSE;
}

// The maker's vendor id with one of the updater's product ids.
bool IsUpdaterInterface(HANDLE handle) {
  HIDD_ATTRIBUTES attributes;
  return handle != nullptr && GetAttributes(handle, attributes) &&
         attributes.VendorID == kMakerUsbVendorId &&
         (attributes.ProductID == kUpdaterProductIdA || attributes.ProductID == kUpdaterProductIdB);
}
}  // namespace

USBHIDInterface::USBHIDInterface() {
  InitializeCriticalSection(&m_responseLock);
  m_responseEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

USBHIDInterface::~USBHIDInterface() {
  if (m_listening.Read() != 0) {
    DebugTrace("Stopped listening: %i", static_cast<int>(m_traceCounter.Read()));
    m_listening.Write(0);
    if (m_thread != nullptr && WaitForSingleObject(m_thread, kStopWaitMs) != WAIT_OBJECT_0) {
      // The listener is late: end its read and wait for it, since it still
      // uses the read handle and the events closed below.
      if (m_readHandle != nullptr) CancelIoEx(m_readHandle, &m_readOverlapped);
      WaitForSingleObject(m_thread, INFINITE);
    }
  }
  CloseIfOpen(m_thread);
  CloseIfOpen(m_queryHandle);
  CloseIfOpen(m_readHandle);
  CloseIfOpen(m_writeHandle);
  CloseIfOpen(m_readEvent);
  CloseIfOpen(m_responseEvent);
  m_devicePath.clear();
  DeleteCriticalSection(&m_responseLock);
}

void USBHIDInterface::Open() {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO list =
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return;

  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof interfaceData);
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &interfaceData)) break;

    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(std::calloc(1, required));
    if (detail == nullptr) continue;  // no memory for this one: try the next
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detail, required, nullptr,
                                          nullptr)) {
      std::free(detail);
      continue;
    }

    HANDLE candidate = OpenPath(detail->DevicePath, 0, 0);
    if (!IsUpdaterInterface(candidate)) {
      CloseIfOpen(candidate);
      std::free(detail);
      continue;
    }

    m_devicePath = detail->DevicePath;
    m_queryHandle = candidate;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (HidD_GetPreparsedData(m_queryHandle, &preparsed)) {
      HidP_GetCaps(preparsed, &m_caps);
      HidD_FreePreparsedData(preparsed);
    }
    m_writeHandle = OpenPath(detail->DevicePath, GENERIC_WRITE, 0);
    OpenReadHandle(detail->DevicePath);
    std::free(detail);
    SetupDiDestroyDeviceInfoList(list);
    StartListening();
    return;
  }
  SetupDiDestroyDeviceInfoList(list);
}

void USBHIDInterface::OpenReadHandle(const wchar_t* devicePath) {
  m_readHandle = OpenPath(devicePath, GENERIC_READ, FILE_FLAG_OVERLAPPED);
  if (m_readEvent == nullptr) {
    m_readEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::memset(&m_readOverlapped, 0, sizeof m_readOverlapped);
    m_readOverlapped.hEvent = m_readEvent;
    m_readOverlapped.Offset = 0;
    m_readOverlapped.OffsetHigh = 0;
  }
}

bool USBHIDInterface::ReadAttributes(HIDD_ATTRIBUTES& attributes) {
  return m_queryHandle != nullptr && GetAttributes(m_queryHandle, attributes);
}

bool USBHIDInterface::IsInUpdateMode() {
  HIDD_ATTRIBUTES attributes;
  return ReadAttributes(attributes) && IsUsbProductCode(attributes.VersionNumber);
}

std::uint32_t USBHIDInterface::GetProductCode() {
  HIDD_ATTRIBUTES attributes;
  if (!ReadAttributes(attributes) || !IsUsbProductCode(attributes.VersionNumber)) return 0;
  return attributes.VersionNumber;
}

std::int32_t USBHIDInterface::SendCommand(const HidCommandReport& block, BYTE* responseBuffer,
                                          std::uint32_t responseLength) {
  // Whatever way this returns, a report arriving afterwards no longer
  // touches the caller's buffer.
  struct Detach {
    USBHIDInterface* link;
    ~Detach() { link->DetachResponseBuffer(); }
  } detach{this};

  if (responseLength > kReadBufferSize) responseLength = kReadBufferSize;
  BYTE report[kWriteBufferSize];
  std::memset(report, 0, sizeof report);
  report[0] = 0;
  std::memcpy(report + 1, block.bytes, HidCommandReport::kSize);

  for (int attempt = 1;; ++attempt) {
    EnterCriticalSection(&m_responseLock);
    m_responseLength = responseLength;
    m_responseBuffer = responseBuffer;
    LeaveCriticalSection(&m_responseLock);
    ResetEvent(m_responseEvent);

    // A unit whose reports do not fit the link's buffers is not written to,
    // nor one whose output report would cut the command short.
    if (m_writeHandle == nullptr || m_caps.OutputReportByteLength > kWriteBufferSize ||
        m_caps.OutputReportByteLength < kCommandReportSize ||
        m_caps.InputReportByteLength > kReadBufferSize) {
      throw std::exception();
    }
    DWORD written = 0;
    if (!WriteFile(m_writeHandle, report, m_caps.OutputReportByteLength, &written, nullptr)) {
      throw std::exception();
    }

    DWORD wait = WaitForSingleObject(m_responseEvent, kReplyWaitMs);
    if (wait == WAIT_OBJECT_0) return 0;
    DebugTrace("USBHIDInterface::SendCommand() cmd result %08x, retry count %d",
               static_cast<unsigned>(wait), attempt);
    if (attempt == kTries) return static_cast<std::int32_t>(wait);
  }
}

void USBHIDInterface::DetachResponseBuffer() {
  EnterCriticalSection(&m_responseLock);
  m_responseBuffer = nullptr;
  m_responseLength = 0;
  LeaveCriticalSection(&m_responseLock);
}

void USBHIDInterface::DeliverAnswer(const BYTE* report) {
  EnterCriticalSection(&m_responseLock);
  if (m_responseBuffer != nullptr) std::memcpy(m_responseBuffer, report, m_responseLength);
  LeaveCriticalSection(&m_responseLock);
  SetEvent(m_responseEvent);
}

void USBHIDInterface::StartListening() {
  DebugTrace("Started listening: %i", static_cast<int>(m_traceCounter.Read()));
  m_listening.Write(1);
  unsigned threadId = 0;
  m_thread = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, &USBHIDInterface::ListenThreadProc, this, 0, &threadId));
  m_threadId = threadId;
  DebugTrace("Created thread: %i", static_cast<int>(m_threadId));
}

unsigned __stdcall USBHIDInterface::ListenThreadProc(void* self) {
  return static_cast<USBHIDInterface*>(self)->Listen();
}

unsigned USBHIDInterface::Listen() {
  // The read buffer lives on this thread's stack: no read is ever left
  // outstanding into it once the thread has ended.
  BYTE readBuffer[kReadBufferSize];
  const DWORD readLength = m_caps.InputReportByteLength;
  const bool canRead = m_readHandle != nullptr && readLength <= kReadBufferSize;
  bool outstanding = false;

  while (m_listening.Read() != 0) {
    if (!outstanding) {
      std::memset(readBuffer, 0, sizeof readBuffer);
      ResetEvent(m_readEvent);
      if (canRead) {
        DWORD count = 0;
        outstanding = ReadFile(m_readHandle, readBuffer, readLength, &count, &m_readOverlapped) ||
                      GetLastError() == ERROR_IO_PENDING;
      }
    }
    DWORD wait = WaitForSingleObject(m_readEvent, kFlagTestMs);
    if (wait == WAIT_FAILED) {
      Sleep(kFlagTestMs);  // no read event: keep to the flag test's pace
      continue;
    }
    if (wait != WAIT_OBJECT_0 || !outstanding) continue;
    outstanding = false;
    ResetEvent(m_readEvent);
    DeliverAnswer(readBuffer);
  }

  if (outstanding) {
    CancelIoEx(m_readHandle, &m_readOverlapped);
    DWORD count = 0;
    GetOverlappedResult(m_readHandle, &m_readOverlapped, &count, TRUE);
  }
  return 0;
}
