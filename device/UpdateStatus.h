// The code that selects the dialog's status text. Stored by the window's
// detection and update steps, by the USB device class during an update, and
// returned by Device::Update as the final code of an update.
#pragma once

enum UpdateStatus : int {
  UpdateStatusReady = 0,
  UpdateStatusMultipleDevices = 1,
  UpdateStatusNotInUpdateMode = 2,
  UpdateStatusNotDetected = 3,
  UpdateStatusAllUpdated = 4,
  UpdateStatusNotRequired = 5,
  UpdateStatusUpdated = 6,
  UpdateStatusUnverified = 7,
  UpdateStatusNeedsNewerBootloader = 8,
  UpdateStatusComparing = 9,
  UpdateStatusUpdating = 10,
  UpdateStatusVerifying = 11,
  UpdateStatusError = 12,
  UpdateStatusDisconnected = 13,
  UpdateStatusBadSource = 14,
  UpdateStatusDone = 15,
};
