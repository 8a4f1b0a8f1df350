#include <platform/host/providers.h>
#include <platform/win32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wait_until.h"

namespace {

using platform::host::DriverDevice;
using platform::host::DriverRegistration;
using platform::host::HidDevice;
using platform::host::HidDeviceInfo;
using platform::host::HidRegistration;
using platform::host::OpenRecord;

// A HID device that records its output reports and, when asked, answers
// each with one input report carrying the command byte back.
class FakeHid : public HidDevice {
 public:
  bool WriteOutputReport(const BYTE* report, std::size_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    writes.emplace_back(report, report + length);
    if (failWrites) return false;
    if (answer) {
      const BYTE reply[] = {0x00, report[1], 0xA5};
      answer->DeliverInputReport(reply, sizeof reply);
    }
    return true;
  }
  std::size_t Writes() {
    std::lock_guard<std::mutex> lock(mutex);
    return writes.size();
  }

  std::mutex mutex;
  std::vector<std::vector<BYTE>> writes;
  bool failWrites = false;
  HidRegistration* answer = nullptr;
};

HidDeviceInfo Info(USHORT vid, USHORT pid, USHORT version) {
  HidDeviceInfo info;
  info.vendorId = vid;
  info.productId = pid;
  info.versionNumber = version;
  return info;
}

HANDLE Open(const std::wstring& path, DWORD access, DWORD flags = 0,
            DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The paths SetupDi lists for the HID class, through the two-call detail
// pattern.
std::vector<std::wstring> ListHidPaths() {
  GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO list =
      SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  EXPECT_NE(list, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hid, index, &data)) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      break;
    }
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::byte> buffer(size);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr));
    paths.emplace_back(detail->DevicePath);
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  return paths;
}

// ---- enumeration

TEST(HidEnumeration, ListsPresentDevicesInRegistrationOrder) {
  EXPECT_TRUE(ListHidPaths().empty());
  FakeHid a, b, c;
  HidRegistration ra = RegisterHidDevice(Info(0x1111, 2, 0x25), a);
  HidRegistration rb = RegisterHidDevice(Info(0x1111, 3, 0x31), b);
  HidRegistration rc = RegisterHidDevice(Info(0x2222, 1, 0x40), c);
  EXPECT_EQ(ListHidPaths(),
            (std::vector<std::wstring>{ra.DevicePath(), rb.DevicePath(), rc.DevicePath()}));
  EXPECT_NE(ra.DevicePath(), rb.DevicePath());
  rb.Remove();
  EXPECT_EQ(ListHidPaths(), (std::vector<std::wstring>{ra.DevicePath(), rc.DevicePath()}));
}

TEST(HidEnumeration, DetailNeedsTheFixedPartsSizeAndEnoughRoom) {
  FakeHid a;
  HidDeviceInfo info = Info(0x1111, 2, 0x25);
  info.devicePath = L"\\\\?\\hid#vid_1111&pid_0002#test";
  HidRegistration ra = RegisterHidDevice(info, a);
  GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO list =
      SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data + 4;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &hid, 0, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &hid, 0, &data));

  DWORD size = 0;
  ASSERT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &size, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                      (info.devicePath.size() + 1) * sizeof(WCHAR));

  std::vector<std::byte> buffer(size);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
  detail->cbSize = size;  // the whole buffer's size is a classic mistake
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size - sizeof(WCHAR), nullptr,
                                                nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr));
  EXPECT_EQ(std::wstring(detail->DevicePath), info.devicePath);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));

  // A device registered after the snapshot is not in it.
  HDEVINFO snapshot =
      SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  FakeHid late;
  HidRegistration rl = RegisterHidDevice(Info(0x1111, 3, 0x25), late);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(snapshot, nullptr, &hid, 1, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  SetupDiDestroyDeviceInfoList(snapshot);
}

// ---- one open device

class HidIo : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDeviceInfo info = Info(0x1111, 3, 0x46);
    info.inputReportByteLength = 65;
    info.outputReportByteLength = 65;
    reg = RegisterHidDevice(info, device);
    path = reg.DevicePath();
    event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    overlapped.hEvent = event;
  }
  void TearDown() override {
    reg.Remove();
    CloseHandle(event);
  }
  HANDLE OpenReader() { return Open(path, GENERIC_READ, FILE_FLAG_OVERLAPPED); }

  FakeHid device;
  HidRegistration reg;
  std::wstring path;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  BYTE buffer[256];
};

TEST_F(HidIo, AQueryHandleReadsAttributesAndCapsButMovesNoData) {
  HANDLE query = Open(path, 0);
  ASSERT_NE(query, INVALID_HANDLE_VALUE);
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  ASSERT_TRUE(HidD_GetAttributes(query, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x1111);
  EXPECT_EQ(attributes.ProductID, 3);
  EXPECT_EQ(attributes.VersionNumber, 0x46);

  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(query, &preparsed));
  HIDP_CAPS caps{};
  ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.InputReportByteLength, 65);
  EXPECT_EQ(caps.OutputReportByteLength, 65);
  EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);

  DWORD n = 0;
  EXPECT_FALSE(ReadFile(query, buffer, 65, &n, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(WriteFile(query, buffer, 65, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  HANDLE writer = Open(path, GENERIC_WRITE);
  HANDLE reader = OpenReader();
  std::vector<OpenRecord> opens = reg.Opens();
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[0].access, 0u);
  EXPECT_EQ(opens[1].access, GENERIC_WRITE);
  EXPECT_EQ(opens[1].flags, 0u);
  EXPECT_EQ(opens[2].access, GENERIC_READ);
  EXPECT_EQ(opens[2].flags, FILE_FLAG_OVERLAPPED);
  EXPECT_EQ(opens[2].shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
  CloseHandle(query);
  EXPECT_FALSE(reg.Opens()[0].open);
  CloseHandle(writer);
  CloseHandle(reader);
}

TEST_F(HidIo, AnOverlappedReadCompletesByItsEventWhenAReportArrives) {
  HANDLE reader = OpenReader();
  std::memset(buffer, 0xEE, sizeof buffer);
  DWORD n = 99;
  ASSERT_FALSE(ReadFile(reader, buffer, 65, &n, &overlapped));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  // The read starts by resetting its event.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_FALSE(GetOverlappedResult(reader, &overlapped, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_EQ(reg.PendingReads(), 1u);

  std::thread unit([&] {
    const BYTE report[] = {0x00, 1, 2, 3, 4, 5, 0x78, 0x56, 0x34, 0x12};
    reg.DeliverInputReport(report, sizeof report);
  });
  ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  unit.join();
  ASSERT_TRUE(GetOverlappedResult(reader, &overlapped, &n, FALSE));
  EXPECT_EQ(n, 65u);
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(buffer[6], 0x78);
  EXPECT_EQ(buffer[9], 0x12);
  EXPECT_EQ(buffer[10], 0x00) << "a short report is padded to the input report length";
  EXPECT_EQ(buffer[64], 0x00);
  EXPECT_EQ(buffer[65], 0xEE) << "nothing past the report is written";
  CloseHandle(reader);
}

TEST_F(HidIo, AReportThatArrivedFirstCompletesTheReadAtOnce) {
  HANDLE reader = OpenReader();
  HANDLE writer = Open(path, GENERIC_WRITE);
  device.answer = &reg;
  BYTE command[65] = {0x00, 0x0B};
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(writer, command, 65, &n, nullptr));
  EXPECT_EQ(n, 65u);
  ASSERT_EQ(device.Writes(), 1u);
  EXPECT_EQ(device.writes[0], std::vector<BYTE>(command, command + 65));

  ASSERT_TRUE(ReadFile(reader, buffer, 65, &n, &overlapped));
  EXPECT_EQ(n, 65u);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(buffer[1], 0x0B);
  EXPECT_EQ(buffer[2], 0xA5);
  CloseHandle(writer);
  CloseHandle(reader);
}

TEST_F(HidIo, CancelIoExEndsTheOutstandingReadAndLeavesItsBufferAlone) {
  HANDLE reader = OpenReader();
  DWORD n = 0;
  EXPECT_FALSE(CancelIoEx(reader, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_FALSE(ReadFile(reader, buffer, 65, &n, &overlapped));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(CancelIoEx(reader, &overlapped));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(reader, &overlapped, &n, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(reg.PendingReads(), 0u);

  const BYTE report[] = {0x00, 0x42};
  reg.DeliverInputReport(report, sizeof report);
  EXPECT_EQ(buffer[1], 0xEE) << "a cancelled read must not receive data";
  // The report waits for the next read.
  ASSERT_TRUE(ReadFile(reader, buffer, 65, &n, &overlapped));
  EXPECT_EQ(buffer[1], 0x42);
  CloseHandle(reader);
}

TEST_F(HidIo, ASynchronousReadBlocksUntilAReport) {
  HANDLE reader = Open(path, GENERIC_READ);
  std::atomic<bool> done{false};
  DWORD n = 0;
  BOOL ok = FALSE;
  std::thread listener([&] {
    ok = ReadFile(reader, buffer, 65, &n, nullptr);
    done = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return reg.PendingReads() == 1; }));
  EXPECT_FALSE(done.load());
  const BYTE report[] = {0x00, 0x07};
  reg.DeliverInputReport(report, sizeof report);
  listener.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(n, 65u);
  EXPECT_EQ(buffer[1], 0x07);
  CloseHandle(reader);
}

TEST_F(HidIo, WritesTakeExactlyOneOutputReport) {
  HANDLE writer = Open(path, GENERIC_WRITE);
  BYTE report[128] = {};
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(writer, report, 64, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  EXPECT_FALSE(WriteFile(writer, report, 128, &n, nullptr));
  EXPECT_EQ(device.Writes(), 0u);
  device.failWrites = true;
  EXPECT_FALSE(WriteFile(writer, report, 65, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  CloseHandle(writer);
}

TEST_F(HidIo, AfterRemovalEveryHandleFailsAndTheOutstandingReadEnds) {
  HANDLE query = Open(path, 0);
  HANDLE writer = Open(path, GENERIC_WRITE);
  HANDLE reader = OpenReader();
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(reader, buffer, 65, &n, &overlapped));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  reg.Remove();
  EXPECT_FALSE(reg.IsRegistered());
  ASSERT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(reader, &overlapped, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  EXPECT_FALSE(ReadFile(reader, buffer, 65, &n, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  BYTE report[65] = {};
  EXPECT_FALSE(WriteFile(writer, report, 65, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(device.Writes(), 0u);
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  EXPECT_FALSE(HidD_GetAttributes(query, &attributes));
  EXPECT_EQ(Open(path, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(CloseHandle(query));
  EXPECT_TRUE(CloseHandle(writer));
  EXPECT_TRUE(CloseHandle(reader));
}

TEST_F(HidIo, RemovalWaitsForAWriteInProgress) {
  class SlowHid : public HidDevice {
   public:
    bool WriteOutputReport(const BYTE*, std::size_t) override {
      entered.set_value();
      release.get_future().wait();
      return true;
    }
    std::promise<void> entered, release;
  } slow;
  HidRegistration slowReg = RegisterHidDevice(Info(0x1111, 2, 0x25), slow);
  HANDLE writer = Open(slowReg.DevicePath(), GENERIC_WRITE);
  std::thread app([&] {
    BYTE report[65] = {};
    DWORD n;
    EXPECT_TRUE(WriteFile(writer, report, 65, &n, nullptr));
  });
  slow.entered.get_future().wait();
  std::atomic<bool> removed{false};
  std::thread unplug([&] {
    slowReg.Remove();
    removed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(removed.load()) << "the device may be destroyed once Remove returns";
  slow.release.set_value();
  unplug.join();
  app.join();
  EXPECT_TRUE(removed.load());
  CloseHandle(writer);
}

TEST_F(HidIo, SharingIsCheckedExceptForQueryOpens) {
  HANDLE exclusive = Open(path, GENERIC_READ, FILE_FLAG_OVERLAPPED, 0);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(path, GENERIC_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE query = Open(path, 0, 0, 0);
  EXPECT_NE(query, INVALID_HANDLE_VALUE);
  CloseHandle(query);
  CloseHandle(exclusive);
}

TEST(HidReports, ADeviceWithoutInputReportBytesCompletesReadsWithNothing) {
  // Its reports are empty both when they wait for a read and when a read
  // waits for them; neither copy may touch memory.
  FakeHid device;
  HidDeviceInfo info = Info(0x1111, 4, 0x46);
  info.inputReportByteLength = 0;
  HidRegistration reg = RegisterHidDevice(info, device);
  HANDLE reader = Open(reg.DevicePath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  BYTE buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  const BYTE report[] = {0x00, 0x42, 0x43};

  DWORD n = 99;
  ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &n, &overlapped));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  reg.DeliverInputReport(report, sizeof report);
  ASSERT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(GetOverlappedResult(reader, &overlapped, &n, FALSE));
  EXPECT_EQ(n, 0u);

  reg.DeliverInputReport(report, sizeof report);
  n = 99;
  ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &n, &overlapped));
  EXPECT_EQ(n, 0u);
  for (BYTE b : buffer) EXPECT_EQ(b, 0xEE);
  CloseHandle(reader);
  CloseHandle(event);
}

// ---- named driver devices

class FakeDriver : public DriverDevice {
 public:
  DWORD IoControl(std::uint64_t openId, DWORD code, void* in, DWORD inSize, void* out,
                  DWORD outSize, DWORD& bytesReturned) override {
    calls.push_back({openId, code, in, inSize, out, outSize});
    if (out && outSize >= 4) {
      const std::uint32_t result = 0x1234;
      std::memcpy(out, &result, 4);  // in place, as METHOD_NEITHER allows
      bytesReturned = 4;
    }
    return error;
  }
  DWORD OnOpen(std::uint64_t openId, const OpenRecord&) override {
    opened.push_back(openId);
    return ERROR_SUCCESS;
  }
  void OnClose(std::uint64_t openId) override { closed.push_back(openId); }

  struct Call {
    std::uint64_t openId;
    DWORD code;
    void* in;
    DWORD inSize;
    void* out;
    DWORD outSize;
  };
  std::vector<Call> calls;
  std::vector<std::uint64_t> opened, closed;
  DWORD error = ERROR_SUCCESS;
};

HANDLE OpenDriver() {
  return CreateFileW(L"\\\\.\\VarnFWA", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(DriverDevices, WithoutADriverTheOpenFailsWithFileNotFound) {
  EXPECT_EQ(OpenDriver(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(DriverDevices, IoControlsReachTheDriverWithTheCallersPointers) {
  FakeDriver driver;
  DriverRegistration reg = RegisterDriverDevice(L"varnfwa", driver);  // names ignore case
  HANDLE device = OpenDriver();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  ASSERT_EQ(driver.opened.size(), 1u);

  alignas(8) BYTE request[302] = {};
  std::uint32_t result = 0;
  DWORD returned = 0;
  const DWORD code = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_NEITHER, FILE_ANY_ACCESS);
  EXPECT_EQ(code, 0x222007u);
  ASSERT_TRUE(DeviceIoControl(device, code, request, sizeof request, &result, sizeof result,
                              &returned, nullptr));
  ASSERT_EQ(driver.calls.size(), 1u);
  EXPECT_EQ(driver.calls[0].openId, driver.opened[0]);
  EXPECT_EQ(driver.calls[0].code, code);
  EXPECT_EQ(driver.calls[0].in, request);
  EXPECT_EQ(driver.calls[0].inSize, 302u);
  EXPECT_EQ(driver.calls[0].out, &result);
  EXPECT_EQ(driver.calls[0].outSize, 4u);
  EXPECT_EQ(result, 0x1234u);
  EXPECT_EQ(returned, 4u);

  driver.error = ERROR_GEN_FAILURE;
  EXPECT_FALSE(
      DeviceIoControl(device, code, request, sizeof request, &result, 4, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  DWORD n;
  EXPECT_FALSE(ReadFile(device, request, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

  EXPECT_TRUE(CloseHandle(device));
  EXPECT_EQ(driver.closed, driver.opened);
}

TEST(DriverDevices, AHandleOfARemovedDriverFailsWithoutCallingIt) {
  FakeDriver driver;
  DriverRegistration reg = RegisterDriverDevice(L"VarnFWA", driver);
  HANDLE device = OpenDriver();
  reg.Remove();
  std::uint32_t result = 0;
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(device, 0x22200B, nullptr, 0, &result, 4, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_TRUE(CloseHandle(device));
  EXPECT_TRUE(driver.closed.empty());
  EXPECT_EQ(OpenDriver(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
