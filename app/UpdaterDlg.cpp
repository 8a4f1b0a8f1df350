// The dialog: construction, data exchange, the message map, the system
// menu's about box and the minimised icon; the detection (USB poll, FireWire
// scan), the update, and the client operations the devices report through.
// The status texts are in StatusText.cpp.
#include "UpdaterDlg.h"

#include <Glue/ConfigClasses.h>
#include <device/DeviceUtilitiesFW.h>
#include <device/DeviceUtilitiesUSB.h>
#include <device/FirmwareImage.h>
#include <firewire/ClientModeApi.h>
#include <firewire/DriverFormats.h>
#include <usb/USBHIDInterface.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The program's own file name, from its last separator on.
CString OwnFileName() {
  wchar_t path[260] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 260);
  // A truncated path may come back without its terminator.
  path[length < 260 ? length : 259] = L'\0';
  return FileNameFromModulePath(path);
}

void DeleteListener(DriverListener* listener) { delete listener; }

// The error records of the scan's driver calls name this file and the call.
constexpr const char* kScanErrorFile = "UpdaterDlg";
constexpr int kFirstDeviceIdLine = 244;
constexpr int kDeviceNameLine = 254;
constexpr int kFunction17Line = 257;
constexpr int kFunction4Line = 258;
constexpr int kModelCodeLine = 259;
constexpr int kFunction18Line = 263;
constexpr int kNextDeviceIdLine = 278;

// One driver call of the scan: its error record names the call's line, and
// a driver error is raised at once.
template <typename... Params, typename... Args>
std::uint32_t CallChecked(int line, std::uint32_t (*api)(FWCnslError*, Params...), Args... args) {
  FWCnslError error(kScanErrorFile, line);
  const std::uint32_t result = api(&error, static_cast<Params>(args)...);
  error.ThrowIfError();
  return result;
}

bool IsSupportedFireWireModel(std::uint32_t modelCode) {
  return modelCode == FireWireModelOrvel || modelCode == FireWireModelPasko ||
         modelCode == FireWireModelKetri || modelCode == FireWireModelSondu;
}

}  // namespace

BEGIN_MESSAGE_MAP(CUpdaterDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_TIMER()
ON_BN_CLICKED(IDC_UPDATE_NOW, &CUpdaterDlg::OnBnClickedUpdateNow)
END_MESSAGE_MAP()

CUpdaterDlg::CUpdaterDlg(CWnd* parent) : CUpdaterDlg(ProductKindDunmi, parent) {
  m_productKind = ProductKindFromFileName(m_fileName);
}

CUpdaterDlg::CUpdaterDlg(ProductKind kind, CWnd* parent)
    : CDialog(IDD, parent),
      m_hIcon(nullptr),
      m_device(),
      m_productKind(kind),
      m_fireWireUnitCount(0),
      m_status(UpdateStatusError),
      m_percent(0),
      m_timerId(0),
      m_usbHandle(nullptr),
      m_usbPresent(false) {
  m_hIcon = AfxGetApp() != nullptr
                ? AfxGetApp()->LoadIcon(IDR_MAINFRAME)
                : ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  m_fileName = OwnFileName();
}

// The members go in reverse order of declaration: the file name, the device
// (a USB device stops its listener thread first), the controls, the status
// text, and last the driver listener.
CUpdaterDlg::~CUpdaterDlg() = default;

void CUpdaterDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Text(dx, IDC_STATUS_TEXT, m_statusText);
  DDX_Control(dx, IDC_RECORD_PROGRESS, m_recordProgress);
  DDX_Control(dx, IDC_OVERALL_PROGRESS, m_overallProgress);
  DDX_Control(dx, IDC_UPDATE_NOW, m_updateButton);
}

BOOL CUpdaterDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // The about item under the system menu; an empty string adds nothing.
  if (CMenu* sysMenu = GetSystemMenu(FALSE)) {
    CString aboutMenu;
    aboutMenu.LoadString(IDS_ABOUTBOX);
    if (!aboutMenu.IsEmpty()) {
      sysMenu->AppendMenu(MF_SEPARATOR);
      sysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
    }
  }

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  if (m_productKind == ProductKindFireWire) {
    // Kept only while the driver gives a registration.
    RenewListener();
  }

  ResetProgressBars();
  SetRecordPosAndRedraw(0);

  RunDetection(true);

  m_timerId = SetTimer(kDetectionTimerId, kDetectionPeriodMs, nullptr);
  return TRUE;
}

void CUpdaterDlg::OnSysCommand(UINT id, LPARAM lParam) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    CDialog::OnSysCommand(id, lParam);
  }
}

void CUpdaterDlg::OnPaint() {
  if (IsIconic()) {
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;

    dc.DrawIcon(x, y, m_hIcon);
  } else {
    CDialog::OnPaint();
  }
}

// The image shown while the minimised window is dragged.
HCURSOR CUpdaterDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

// Every tick looks again, whichever timer it came from.
void CUpdaterDlg::OnTimer(UINT_PTR id) {
  RunDetection(false);
  CDialog::OnTimer(id);
}

void CUpdaterDlg::RunDetection(bool first) {
  if (m_productKind != ProductKindFireWire) {
    PollUsbDevice(first);
    return;
  }
  if (first) {
    // The listener step has run; the scan runs with or without a listener.
    if (m_usbHandle == nullptr && !ScanGuarded()) {
      // The template shows the button; a first scan that never finished has
      // found no unit ready, so nothing may offer an update yet.
      m_updateButton.ShowWindow(SW_HIDE);
      m_recordProgress.ShowWindow(SW_HIDE);
    }
    return;
  }
  RenewListener();
  if (m_listener) {
    ScanGuarded();
  }
}

// The new listener is made while the old one still holds the registration,
// so a running registration is joined, not made anew.
void CUpdaterDlg::RenewListener() {
  DriverListener* listener = new DriverListener(1, 1);
  m_listener.reset(listener, &DeleteListener);
  if (listener->cookie == 0) {
    m_listener.reset();
  }
}

// A driver error stops the scan where it happened and leaves the dialog as
// it stood; it must not end the dialog. The next tick looks again. True when
// the scan ran to its end.
bool CUpdaterDlg::ScanGuarded() {
  try {
    ScanFireWireDevices();
    return true;
  } catch (const FWCnslException&) {
    return false;
  }
}

// Enter presses the default button even while it is hidden; a hidden button
// means detection has not found a unit ready for an update, so that press
// must not start one.
void CUpdaterDlg::OnBnClickedUpdateNow() {
  if ((::GetWindowLongPtrW(m_updateButton.m_hWnd, GWL_STYLE) & WS_VISIBLE) == 0) {
    return;
  }
  DoUpdate();
}

void CUpdaterDlg::PollUsbDevice(bool force) {
  if (m_usbHandle == nullptr) {
    // A look of its own at what is plugged in; the current device's link is
    // left as it is unless presence changed.
    USBHIDInterface probe;
    probe.Open();
    const bool present = probe.m_queryHandle != nullptr;
    if (present != m_usbPresent || force) {
      m_device = std::make_unique<DeviceUtilitiesUSB>(this);
      USBHIDInterface* hid = m_device->GetHidInterface();
      hid->Open();
      m_usbPresent = present;

      int status;
      if (present) {
        // Found: this run looks no more, whatever mode the unit is in.
        m_usbHandle = hid->m_queryHandle;
        if (hid->IsInUpdateMode()) {
          status = UpdateStatusReady;
          m_updateButton.ShowWindow(SW_SHOW);
        } else {
          status = UpdateStatusNotInUpdateMode;
          m_updateButton.ShowWindow(SW_HIDE);
        }
      } else {
        status = UpdateStatusNotDetected;
        m_updateButton.ShowWindow(SW_HIDE);
      }
      if (status != m_status) {
        m_status = status;
        RefreshStatus();
      }
    }
  }
  m_recordProgress.ShowWindow(SW_HIDE);
}

// Enumerates the driver's units and keeps those of the supported models;
// returns how many were kept. A driver error raises FWCnslException at once.
int CUpdaterDlg::ScanFireWireDevices() {
  m_fireWireUnitCount = 0;
  int kept = 0;
  if (m_listener) {
    std::uint8_t idBytes[8] = {};
    const std::uint64_t idAddress = FireWire::AddressSlot(idBytes);
    CallChecked(kFirstDeviceIdLine, &ClientModeApi_GetDeviceId, idAddress, sizeof idBytes, 0);
    std::uint32_t idLow = ReadLE32(idBytes);
    std::uint32_t idHigh = ReadLE32(idBytes + 4);
    // Only the low half ends the enumeration.
    while (idLow != 0) {
      ++m_fireWireUnitCount;
      const std::uint64_t deviceId = (static_cast<std::uint64_t>(idHigh) << 32) | idLow;

      // The name is fetched but not used.
      std::uint8_t name[510] = {};
      CallChecked(kDeviceNameLine, &ClientModeApi_GetDeviceName, deviceId, 0,
                  FireWire::AddressSlot(name), sizeof name);
      const std::uint32_t first = CallChecked(kFunction17Line, &ClientModeApi_Function17, deviceId);
      const std::uint32_t second = CallChecked(kFunction4Line, &ClientModeApi_Function4, deviceId);
      const std::uint32_t modelCode =
          CallChecked(kModelCodeLine, &ClientModeApi_GetModelCode, deviceId);
      std::printf("%d %d %d ", static_cast<int>(first), static_cast<int>(second),
                  static_cast<int>(modelCode));
      CallChecked(kFunction18Line, &ClientModeApi_Function18, deviceId);
      if (first != 0 && second == 5 && IsSupportedFireWireModel(modelCode)) {
        ++kept;
        m_device = std::make_unique<DeviceUtilitiesFW>(this, idLow, idHigh,
                                                       static_cast<std::int32_t>(modelCode));
      }
      // A call that writes nothing (a driver gone mid-scan answers 0 with no
      // error) must read as the end, not as the last unit once more.
      std::memset(idBytes, 0, sizeof idBytes);
      CallChecked(kNextDeviceIdLine, &ClientModeApi_GetDeviceId, idAddress, sizeof idBytes,
                  m_fireWireUnitCount);
      idLow = ReadLE32(idBytes);
      idHigh = ReadLE32(idBytes + 4);
    }
  }

  m_recordProgress.ShowWindow(SW_HIDE);
  m_overallProgress.ShowWindow(SW_SHOW);
  if (kept == 0) {
    m_status = UpdateStatusNotDetected;
    m_updateButton.ShowWindow(SW_HIDE);
    m_listener.reset();
  } else if (kept == 1) {
    m_status = UpdateStatusReady;
    ResetProgressBars();
    m_updateButton.ShowWindow(SW_SHOW);
  } else {
    // Only one unit at a time; the last one kept stays the current device.
    m_status = UpdateStatusMultipleDevices;
    m_updateButton.ShowWindow(SW_HIDE);
    m_listener.reset();
  }
  RefreshStatus();
  UpdateData(FALSE);
  return kept;
}

// The overall bar from 0 to 100 at the current percent, the record bar empty.
void CUpdaterDlg::ResetProgressBars() {
  m_overallProgress.SetRange32(0, 100);
  m_overallProgress.SetPos(m_percent);
  m_recordProgress.SetRange32(0, 0x8000);
  m_recordProgress.SetPos(0);
}

// The whole update runs here, on the dialog's thread: no tick is handled
// until it returns.
void CUpdaterDlg::DoUpdate() {
  try {
    m_status = UpdateStatusUpdating;
    m_updateButton.ShowWindow(SW_HIDE);
    RefreshStatus();
    if (m_device) {
      m_status = m_device->Update(0);
    }
  } catch (...) {
    if (m_listener) {
      // The driver went away under the update: look for it afresh.
      m_listener.reset();
      m_status = UpdateStatusDisconnected;
    } else {
      // The update did not end as it should; "Updating firmware..." must
      // not stay on screen.
      m_status = UpdateStatusError;
    }
  }
  RefreshStatus();
}

// ---------------------------------------------------------------------------
// UpdaterDlgClient

void CUpdaterDlg::SetRecordPosAndRedraw(int position) {
  m_recordProgress.SetPos(position);
  UpdateData(FALSE);
  m_recordProgress.UpdateWindow();
  UpdateWindow();
}

void CUpdaterDlg::SetRecordRange(int low, int high) { m_recordProgress.SetRange32(low, high); }

void CUpdaterDlg::SetRecordPos(int position) { m_recordProgress.SetPos(position); }

void CUpdaterDlg::ReportProgress() {
  if (!m_device) {
    return;
  }
  const std::uint32_t done = m_device->GetBytesDone();
  const std::uint32_t total = m_device->GetTotalBytes();
  // Narrowed to float before the truncation: a quotient just below 100
  // rounds up to 100. No total means no progress.
  int percent = 0;
  if (total != 0) {
    const float quotient =
        static_cast<float>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    // More done than the total is shown as it comes, within what an int holds.
    percent = quotient < 2147483647.0f ? static_cast<int>(quotient) : 2147483647;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Working...       %3d %% Updated",
                percent == 100 ? 99 : percent);
  m_percent = percent;
  m_device->DisplayText(text);
  RefreshStatus();
}

void CUpdaterDlg::SetStatus(int status) { m_status = status; }

// ---------------------------------------------------------------------------
// The about box

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD) {}

CAboutDlg::~CAboutDlg() = default;
