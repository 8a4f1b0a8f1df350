// The Device of a FireWire unit: it drives the unit's updater through the
// unit's registers, one 32-bit word per driver call, and writes texts to the
// unit's two-line display. The record walk and the compare-then-write are the
// shared engine's; this class supplies the register steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceEngine.h"

// The FireWire models and their codes as the driver reports them.
enum FireWireModelCode : int32_t {
  FireWireModelOrvel = 22,
  FireWireModelPasko = 24,
  FireWireModelKetri = 26,
  FireWireModelSondu = 28,
};

// The registers of a unit in its update mode.
enum FireWireUpdateRegisters : uint32_t {
  // Word k of the chunk buffer is at 4 * k, for k from 0 to 2047.
  FireWireRegisterDataWindow = 0x00000000,
  FireWireRegisterDisplayCommand = 0xf0000100,
  FireWireRegisterDisplayData = 0xf0000104,
  FireWireRegisterUnlock = 0xf0000c00,
  FireWireRegisterCommand = 0xf0000d00,
  FireWireRegisterArgument1 = 0xf0000d04,
  FireWireRegisterArgument2 = 0xf0000d08,
  FireWireRegisterStatus = 0xf0000d20,
  FireWireRegisterResult = 0xf0000d24,
};

class DeviceUtilitiesFW : public DeviceEngine {
 public:
  // Words of the data window: the whole chunk buffer.
  static constexpr uint32_t kDataWindowWords = 2048;
  // "VARN" read as a big-endian word; opens flash for programming.
  static constexpr uint32_t kUnlockWord = 0x5641524E;
  // Display commands.
  static constexpr uint32_t kDisplayClear = 1;
  static constexpr uint32_t kDisplaySecondLine = 0xC0;
  static constexpr size_t kDisplayLineLength = 16;
  // The unit is busy while any of these status bits is set.
  static constexpr uint32_t kStatusBusyMask = 0x00FF0000;
  // The wait before each look at the status register.
  static constexpr uint32_t kBusyPollMilliseconds = 2000;
  // What the error record of a driver call names as its calling site.
  static constexpr const char* kErrorFile = "DeviceUtilitiesFW";
  static constexpr int kWriteRegisterLine = 56;
  static constexpr int kReadRegisterLine = 62;

  DeviceUtilitiesFW(UpdaterDlgClient* client, uint32_t deviceIdLow, uint32_t deviceIdHigh,
                    int32_t modelCode);

  // Image file name of a model code, or null for a model without one.
  static const char* FileNameForModel(int32_t modelCode);

  // Both throw FWCnslException when the driver reports the call failed.
  void WriteRegister(uint32_t address, uint32_t value) override;
  uint32_t ReadRegister(uint32_t address);

  void DisplayText(const char* text) override;
  void TakeImageHeader(const FirmwareImageHeader* header) override;
  USBHIDInterface* GetHidInterface() override { return nullptr; }

  // The compares, each a command and a result read; true on a mismatch.
  using DeviceEngine::VerifyExternalChecksum;
  using DeviceEngine::VerifyExternalCrc;
  using DeviceEngine::VerifyInternalChecksum;
  using DeviceEngine::VerifyInternalCrc;

  uint32_t DeviceIdLow() const { return m_deviceIdLow; }
  uint32_t DeviceIdHigh() const { return m_deviceIdHigh; }
  int32_t ModelCode() const { return m_modelCode; }

 protected:
  const char* ImageFileName() override;
  bool NeedsWholeWords() const override { return true; }
  void AcceptImageHeader(const FirmwareImageHeader* header) override;
  void AfterStartingUp() override;
  void OnRecordStart(uint32_t length) override;
  void BeforeFirstAttempt() override;
  void FillChunk(const uint8_t* data, uint32_t count) override;
  void ProgramChunk(uint32_t command, uint32_t argument1, uint32_t argument2) override;
  void OnChunkDone(uint32_t sentSoFar) override;
  uint32_t QueryUnit(uint32_t command, uint32_t argument1, uint32_t argument2) override;
  void OnCompared(uint32_t command, uint32_t computed, uint32_t unit) override;

 private:
  uint64_t DeviceId() const {
    return (static_cast<uint64_t>(m_deviceIdHigh) << 32) | m_deviceIdLow;
  }
  // Arguments, then the command, then the wait until the unit is no longer
  // busy.
  void IssueCommand(uint32_t command, uint32_t argument1, uint32_t argument2);
  void WaitWhileBusy();

  uint32_t m_deviceIdLow;
  uint32_t m_deviceIdHigh;
  int32_t m_modelCode;
  char m_fileName[260];
};
