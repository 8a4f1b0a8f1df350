// The device of the units updated over USB: drives the unit's updater with
// command blocks carried one per HID output report by its USBHIDInterface.
#pragma once

#include <cstdint>

#include "device/DeviceEngine.h"
#include "usb/HidReports.h"
#include "usb/USBHIDInterface.h"

// The image file of a model, by the unit's product code; null for a code
// that names no file.
const char* UsbFirmwareFileName(uint32_t productCode);

class DeviceUtilitiesUSB : public DeviceEngine {
 public:
  static constexpr uint32_t kResponseBufferSize = 256;

  explicit DeviceUtilitiesUSB(UpdaterDlgClient* client);
  ~DeviceUtilitiesUSB() override;

  void WriteRegister(uint32_t address, uint32_t value) override;
  void DisplayText(const char* text) override;
  void TakeImageHeader(const FirmwareImageHeader* header) override;
  USBHIDInterface* GetHidInterface() override { return &m_hid; }

  using DeviceEngine::VerifyExternalChecksum;
  using DeviceEngine::VerifyExternalCrc;
  using DeviceEngine::VerifyInternalChecksum;
  using DeviceEngine::VerifyInternalCrc;

 protected:
  const char* ImageFileName() override;
  void BeforeImage() override;
  void AfterWalk() override;
  void OnRecordStart(uint32_t length) override;
  void OnAttemptStart(uint32_t length) override;
  void OnChunkStart(uint32_t sentSoFar) override;
  void FillChunk(const uint8_t* data, uint32_t count) override;
  void ProgramChunk(uint32_t command, uint32_t argument1, uint32_t argument2) override;
  void BeforeRecompare() override;
  uint32_t QueryUnit(uint32_t command, uint32_t argument1, uint32_t argument2) override;

 private:
  // Sends one block; an unanswered command ends the update as a failed
  // write does.
  void Send(const HidCommandReport& block, BYTE* response, uint32_t length);

  USBHIDInterface m_hid;
  BYTE m_responseBuffer[kResponseBufferSize];
  // Only the first 16 bytes of the two program blocks carry anything.
  HidCommandReport m_programExternal;
  HidCommandReport m_programInternal;
  HidCommandReport m_writeData;
};
