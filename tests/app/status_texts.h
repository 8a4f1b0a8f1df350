// The status texts as the user must see them, written out once more so a
// slip in the program's own table shows.
#pragma once

#include <string>

namespace status_texts {

// One text a line, as the user reads it.
// clang-format off
inline const wchar_t* const kKind2[7] = {
    L"A device was detected, but it is not in the firmware update mode. Turn off the device, press and hold the Page knob, and then turn it on again.",
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is connected to the computer by USB. Turn off the device, press and hold the Page knob, and then turn it on again.",
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is connected to the computer by USB. Turn off the device, press and hold the Value knob, and then turn it on again.",
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is connected to the computer by USB. Turn off the device, press and hold the Mic 1 knob, and then turn it on again.",
    L"A device was detected, but it is not in the firmware update mode. Confirm that it is connected to the computer by USB. Turn off the device, press and hold the stripe button, and then turn it on again.",
    L"A Vorlo II was detected, but it is not in the firmware update mode. Disconnect the USB cable from theVorloII.Press and hold the volume button, and then plug in the USB cable.",
    L"A Dunmi was detected, but it is not in the firmware update mode. Confirm that it is connected to the computer by USB. Turn off the Dunmi, press and hold the knob, and then turn it on again.",
};

inline const wchar_t* const kKind3[7] = {
    L"The device is not detected. Press and hold the Page knob, and then turn it on to switch it to the firmware update mode.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and hold the Page knob, and then turn it on to switch it to the firmware update mode.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and hold the Value knob, and then turn it on to switch it to the firmware update mode.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and hold the Mic 1 knob, and then turn it on to switch it to the firmware update mode.",
    L"The device is not detected. Confirm that it is connected to the computer by USB. Press and hold the stripe button, and then turn it on to switch it to the firmware update mode.",
    L"No Vorlo II detected.Disconnect the USB cable from theVorloII.Press and hold the volume button, and then plug in the USB cable.",
    L"The Dunmi is not detected. Confirm that it is connected to the computer by USB. Press and hold the knob, and then turn it on to switch it to the firmware update mode.",
};

inline const wchar_t* const kReady = L"Click the Update Now button to begin updating the device's firmware.";
inline const wchar_t* const kMultiple = L"Only one device can be updated at a time. Turn off all devices except one.";
inline const wchar_t* const kAllUpdated = L"All of the connected devices have been updated.";
inline const wchar_t* const kNotRequired = L"The device does not require a firmware update.";
inline const wchar_t* const kUpdated = L"The device's firmware was successfully updated. Turn off the device and then turn it on again to exit the firmware update mode.";
inline const wchar_t* const kUnverified = L"The device's firmware was updated, but the update could not be verified. Click the Retry button to try again.";
inline const wchar_t* const kBootloader = L"The device can not be updated because it requires a newer bootloader. Contact VARN Technical Support for assistance.";
inline const wchar_t* const kComparing = L"Comparing firmware...\nThe updater program is comparing the device's firmware to the new firmware.\nFile version: ";
inline const wchar_t* const kUpdating = L"Updating firmware...\nDo not turn off the device, disconnect the device, or close this program until the update has completed.\nFile version: ";
inline const wchar_t* const kVerifying = L"Verifying firmware... Do not turn off the device, disconnect the device, or close this program until the update has completed.";
inline const wchar_t* const kError = L"An error occurred while updating the firmware. Click the Retry button to try again.";
inline const wchar_t* const kDisconnected = L"The device was turned off or disconnected during the firmware update. Click the Retry button to try again.";
inline const wchar_t* const kBadSource = L"The Download source data is bad.";
// clang-format on

struct Row {
  std::wstring text;
  bool hidesButton;
};

// What a refresh shows for a code and a kind; version is the device's text.
inline Row Expected(int kind, int code, const std::wstring& version) {
  const bool perKind = kind >= 0 && kind <= 6;
  switch (code) {
    case 0:
      return {kReady, false};
    case 1:
      return {kMultiple, true};
    case 2:
      return {perKind ? kKind2[kind] : kKind2[0], true};
    case 3:
      return {perKind ? kKind3[kind] : kKind3[0], false};
    case 4:
      return {kAllUpdated, true};
    case 5:
      return {kNotRequired, false};
    case 6:
      return {kUpdated, true};
    case 7:
      return {kUnverified, false};
    case 8:
      return {kBootloader, false};
    case 9:
      return {kComparing + version, false};
    case 10:
      return {kUpdating + version, false};
    case 11:
      return {kVerifying, false};
    case 13:
      return {kDisconnected, false};
    case 14:
      return {kBadSource, false};
    case 15:
      return {kUpdated, false};
    default:
      return {kError, false};  // 12 and every unknown code
  }
}

}  // namespace status_texts
