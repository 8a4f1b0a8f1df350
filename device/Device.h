// The update engine's device interface, through which the window drives one
// connected unit without knowing its bus, and the callback interface through
// which a device reports back to the window.
#pragma once

#include <cstdint>

class USBHIDInterface;
struct FirmwareImageHeader;
struct FirmwareRecordHeader;

// Implemented by DeviceUtilitiesUSB and DeviceUtilitiesFW (through
// DeviceEngine). Owned by the window through one pointer, never copied.
class Device {
 public:
  virtual ~Device() {}

  // Writes one 32-bit register of the unit (FireWire only; USB ignores it).
  virtual void WriteRegister(uint32_t address, uint32_t value) = 0;
  // Replaces what the unit's display shows; a null text only blanks it.
  virtual void DisplayText(const char* text) = 0;
  // Keeps what the device needs of a freshly read image header.
  virtual void TakeImageHeader(const FirmwareImageHeader* header) = 0;
  // Makes the unit hold one record's data. Returns the record's data
  // length when the unit holds it at the end, 0 after three failed attempts.
  virtual uint32_t WriteRecord(const FirmwareRecordHeader* record, const uint8_t* recordBase) = 0;
  // The whole update from the image file; the argument is not used (the
  // window passes 0). Returns an UpdateStatus code.
  virtual int Update(int unused) = 0;
  // Version text of the image last read; empty before any. Owned by the
  // device and valid while it lives.
  virtual const wchar_t* GetVersionText() = 0;
  // The image header's total bytes once Update has read an image; 0 before.
  virtual uint32_t GetTotalBytes() = 0;
  // Bytes counted so far by the current or last Update.
  virtual uint32_t GetBytesDone() = 0;
  // The unit's HID link, or null when the device has none.
  virtual USBHIDInterface* GetHidInterface() = 0;
};

// Implemented by the window. Calls are synchronous, on the thread running
// Device::Update; a device calls them only through a non-null pointer.
class UpdaterDlgClient {
 public:
  virtual ~UpdaterDlgClient() {}

  // Sets the per-record bar's position and repaints the dialog at once.
  virtual void SetRecordPosAndRedraw(int position) = 0;
  // Sets the per-record bar's range.
  virtual void SetRecordRange(int low, int high) = 0;
  // Sets the per-record bar's position without repainting.
  virtual void SetRecordPos(int position) = 0;
  // Redraws the status text for the current status and the overall bar.
  virtual void RefreshStatus() = 0;
  // Percent from the device's byte counts, to the unit's display, then a
  // status refresh.
  virtual void ReportProgress() = 0;
  // Stores a status code without redrawing.
  virtual void SetStatus(int status) = 0;
};
