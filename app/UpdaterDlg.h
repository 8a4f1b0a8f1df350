// The updater's one window: the dialog that finds a unit, updates it and
// shows how it goes.
#pragma once

#include <platform/afx.h>

#include <memory>

#include "DriverListenerPtr.h"
#include "ProductKind.h"
#include "resource.h"
#include <device/Device.h>
#include <device/UpdateStatus.h>

class CUpdaterDlg : public CDialog, public UpdaterDlgClient {
 public:
  enum { IDD = IDD_UPDATER_DIALOG };

  explicit CUpdaterDlg(CWnd* parent = nullptr);
  // A dialog of a given kind whatever the file name says; the product never
  // uses it (it is the only way to kind 0).
  CUpdaterDlg(ProductKind kind, CWnd* parent);
  ~CUpdaterDlg() override;

  // UpdaterDlgClient: the device classes report through these.
  void SetRecordPosAndRedraw(int position) override;
  void SetRecordRange(int low, int high) override;
  void SetRecordPos(int position) override;
  void RefreshStatus() override;
  void ReportProgress() override;
  void SetStatus(int status) override;

  // The status texts of codes 2 and 3, one operation per kind: true when
  // the code was one of them and the text is set.
  bool ApplyFireWireStatusText();
  bool ApplyTandraStatusText();
  bool ApplyPlimoStatusText();
  bool ApplyHalviQuenStatusText();
  bool ApplyZolteFenraStatusText();
  bool ApplyVorloStatusText();
  bool ApplyDunmiStatusText();

  // Detection and the update.
  void PollUsbDevice(bool force);
  int ScanFireWireDevices();
  // Kind 0: a new driver listener in place of the old one, dropped when
  // the driver gives no registration.
  void RenewListener();
  void DoUpdate();

  BOOL OnInitDialog() override;

  // The detection timer: every tick repeats the detection.
  static constexpr UINT_PTR kDetectionTimerId = 2001;
  static constexpr UINT kDetectionPeriodMs = 1000;

  // Members in this order: they are destroyed in reverse, so the device
  // goes before the controls and the listener last.
  HICON m_hIcon;
  DriverListenerPtr m_listener;
  CString m_statusText;
  CButton m_updateButton;
  CProgressCtrl m_recordProgress;
  CProgressCtrl m_overallProgress;
  std::unique_ptr<Device> m_device;
  CString m_fileName;
  ProductKind m_productKind;
  int m_fireWireUnitCount;
  // An UpdateStatus code; any int may be stored, codes outside 0 to 15
  // show the text of UpdateStatusError.
  int m_status;
  int m_percent;
  UINT_PTR m_timerId;
  HANDLE m_usbHandle;
  bool m_usbPresent;

 protected:
  void DoDataExchange(CDataExchange* dx) override;

  afx_msg void OnSysCommand(UINT id, LPARAM lParam);
  afx_msg void OnPaint();
  afx_msg HCURSOR OnQueryDragIcon();
  afx_msg void OnTimer(UINT_PTR id);
  afx_msg void OnBnClickedUpdateNow();

  DECLARE_MESSAGE_MAP()

 private:
  // The generic status table: text of m_status, then the button hidden
  // where its row says so.
  void ApplyGenericStatusText();
  bool ApplyKindStatusText(const wchar_t* notInUpdateMode, const wchar_t* notDetected);
  // The detection of the product kind: at initialisation (first) and on
  // every tick.
  void RunDetection(bool first);
  // The scan, with a driver error stopping only the scan.
  bool ScanGuarded();
  void ResetProgressBars();
};

// The about box: nothing of its own, its OK button closes it.
class CAboutDlg : public CDialog {
 public:
  enum { IDD = IDD_ABOUTBOX };

  CAboutDlg();
  ~CAboutDlg() override;

 protected:
  DECLARE_MESSAGE_MAP()
};
