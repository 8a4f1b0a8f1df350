// The status line: the text for the current code, the button hidden for
// some codes, the overall bar at the current percent.
#include "UpdaterDlg.h"

namespace {

struct KindTexts {
  const wchar_t* notInUpdateMode;  // code 2
  const wchar_t* notDetected;      // code 3
};

constexpr KindTexts kFireWireTexts = {
    L"A device was detected, but it is not in the firmware update mode. Turn off the device, "
    L"press and hold the Page knob, and then turn it on again.",
    L"The device is not detected. Press and hold the Page knob, and then turn it on to switch it "
    L"to the firmware update mode.",
};

constexpr KindTexts kTandraTexts = {
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is "
    L"connected to the computer by USB. Turn off the device, press and hold the Page knob, and "
    L"then turn it on again.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and "
    L"hold the Page knob, and then turn it on to switch it to the firmware update mode.",
};

constexpr KindTexts kPlimoTexts = {
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is "
    L"connected to the computer by USB. Turn off the device, press and hold the Value knob, and "
    L"then turn it on again.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and "
    L"hold the Value knob, and then turn it on to switch it to the firmware update mode.",
};

constexpr KindTexts kHalviQuenTexts = {
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is "
    L"connected to the computer by USB. Turn off the device, press and hold the Mic 1 knob, and "
    L"then turn it on again.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and "
    L"hold the Mic 1 knob, and then turn it on to switch it to the firmware update mode.",
};

constexpr KindTexts kZolteFenraTexts = {
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is "
    L"connected to the computer by USB. Turn off the device, press and hold the stripe button, "
    L"and then turn it on again.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and "
    L"hold the stripe button, and then turn it on to switch it to the firmware update mode.",
};

// The blanks missing after "the" and the full stops are the product's own.
constexpr KindTexts kVorloTexts = {
    L"A Vorlo II was detected, but it is not in the firmware update mode. Disconnect the USB "
    L"cable from theVorloII.Press and hold the volume button, and then plug in the USB cable.",
    L"No Vorlo II detected.Disconnect the USB cable from theVorloII.Press and hold the volume "
    L"button, and then plug in the USB cable.",
};

constexpr KindTexts kDunmiTexts = {
    L"A Dunmi was detected, but it is not in the firmware update mode. Confirm that it is "
    L"connected to the computer by USB. Turn off the Dunmi, press and hold the knob, and then "
    L"turn it on again.",
    L"The Dunmi is not detected. Confirm that it is connected to the computer by USB. Press and "
    L"hold the knob, and then turn it on to switch it to the firmware update mode.",
};

constexpr const wchar_t* kUpdatedText =
    L"The device's firmware was successfully updated. Turn off the device and then turn it on "
    L"again to exit the firmware update mode.";

constexpr const wchar_t* kErrorText =
    L"An error occurred while updating the firmware. Click the Retry button to try again.";

struct GenericRow {
  const wchar_t* text;  // for 9 and 10 a format of the version text
  bool hidesButton;
};

// Indexed by the code, 0 to 15.
constexpr GenericRow kGenericRows[] = {
    {L"Click the Update Now button to begin updating the device's firmware.", false},
    {L"Only one device can be updated at a time. Turn off all devices except one.", true},
    {kFireWireTexts.notInUpdateMode, true},
    {kFireWireTexts.notDetected, false},
    {L"All of the connected devices have been updated.", true},
    {L"The device does not require a firmware update.", false},
    {kUpdatedText, true},
    {L"The device's firmware was updated, but the update could not be verified. Click the Retry "
     L"button to try again.",
     false},
    {L"The device can not be updated because it requires a newer bootloader. Contact VARN "
     L"Technical Support for assistance.",
     false},
    {L"Comparing firmware...\nThe updater program is comparing the device's firmware to the new "
     L"firmware.\nFile version: %ls",
     false},
    {L"Updating firmware...\nDo not turn off the device, disconnect the device, or close this "
     L"program until the update has completed.\nFile version: %ls",
     false},
    {L"Verifying firmware... Do not turn off the device, disconnect the device, or close this "
     L"program until the update has completed.",
     false},
    {kErrorText, false},
    {L"The device was turned off or disconnected during the firmware update. Click the Retry "
     L"button to try again.",
     false},
    {L"The Download source data is bad.", false},
    {kUpdatedText, false},
};

static_assert(sizeof kGenericRows / sizeof kGenericRows[0] == 16);

}  // namespace

void CUpdaterDlg::RefreshStatus() {
  bool handled = false;
  switch (m_productKind) {
    case ProductKindFireWire:
      handled = ApplyFireWireStatusText();
      break;
    case ProductKindTandra:
      handled = ApplyTandraStatusText();
      break;
    case ProductKindPlimo:
      handled = ApplyPlimoStatusText();
      break;
    case ProductKindHalviQuen:
      handled = ApplyHalviQuenStatusText();
      break;
    case ProductKindZolteFenra:
      handled = ApplyZolteFenraStatusText();
      break;
    case ProductKindVorlo:
      handled = ApplyVorloStatusText();
      break;
    case ProductKindDunmi:
      handled = ApplyDunmiStatusText();
      break;
    default:
      break;
  }
  if (!handled) {
    ApplyGenericStatusText();
  }
  m_overallProgress.SetPos(m_percent);
  UpdateData(FALSE);
}

void CUpdaterDlg::ApplyGenericStatusText() {
  const bool known = m_status >= UpdateStatusReady && m_status <= UpdateStatusDone;
  const GenericRow& row = kGenericRows[known ? m_status : UpdateStatusError];
  if (known && (m_status == UpdateStatusComparing || m_status == UpdateStatusUpdating)) {
    // Before an update has found its device there is no version to show.
    const wchar_t* version = m_device ? m_device->GetVersionText() : nullptr;
    m_statusText.Format(row.text, version != nullptr ? version : L"");
  } else {
    m_statusText = row.text;
  }
  if (row.hidesButton) {
    m_updateButton.ShowWindow(SW_HIDE);
  }
}

bool CUpdaterDlg::ApplyKindStatusText(const wchar_t* notInUpdateMode, const wchar_t* notDetected) {
  switch (m_status) {
    case UpdateStatusNotInUpdateMode:
      m_statusText = notInUpdateMode;
      m_updateButton.ShowWindow(SW_HIDE);
      return true;
    case UpdateStatusNotDetected:
      m_statusText = notDetected;
      return true;
    default:
      return false;
  }
}

bool CUpdaterDlg::ApplyFireWireStatusText() {
  return ApplyKindStatusText(kFireWireTexts.notInUpdateMode, kFireWireTexts.notDetected);
}

bool CUpdaterDlg::ApplyTandraStatusText() {
  return ApplyKindStatusText(kTandraTexts.notInUpdateMode, kTandraTexts.notDetected);
}

bool CUpdaterDlg::ApplyPlimoStatusText() {
  return ApplyKindStatusText(kPlimoTexts.notInUpdateMode, kPlimoTexts.notDetected);
}

bool CUpdaterDlg::ApplyHalviQuenStatusText() {
  return ApplyKindStatusText(kHalviQuenTexts.notInUpdateMode, kHalviQuenTexts.notDetected);
}

bool CUpdaterDlg::ApplyZolteFenraStatusText() {
  return ApplyKindStatusText(kZolteFenraTexts.notInUpdateMode, kZolteFenraTexts.notDetected);
}

bool CUpdaterDlg::ApplyVorloStatusText() {
  return ApplyKindStatusText(kVorloTexts.notInUpdateMode, kVorloTexts.notDetected);
}

bool CUpdaterDlg::ApplyDunmiStatusText() {
  return ApplyKindStatusText(kDunmiTexts.notInUpdateMode, kDunmiTexts.notDetected);
}
