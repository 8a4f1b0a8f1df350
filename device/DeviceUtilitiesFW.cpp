#include "device/DeviceUtilitiesFW.h"

#include <platform/win32.h>

#include <cstdio>
#include <cstring>

#include "firewire/ClientModeApi.h"

DeviceUtilitiesFW::DeviceUtilitiesFW(UpdaterDlgClient* client, uint32_t deviceIdLow,
                                     uint32_t deviceIdHigh, int32_t modelCode)
    : DeviceEngine(client),
      m_deviceIdLow(deviceIdLow),
      m_deviceIdHigh(deviceIdHigh),
      m_modelCode(modelCode),
      m_fileName{} {}

const char* DeviceUtilitiesFW::FileNameForModel(int32_t modelCode) {
  switch (modelCode) {
    case FireWireModelOrvel:
      return "Orvel.bin";
    case FireWireModelPasko:
      return "Pasko.bin";
    case FireWireModelKetri:
      return "ketri.bin";
    case FireWireModelSondu:
      return "sondu.bin";
    default:
      return nullptr;
  }
}

const char* DeviceUtilitiesFW::ImageFileName() {
  // A model without an image has nothing to update; the engine ends with
  // 14 before any register is touched.
  const char* name = FileNameForModel(m_modelCode);
  if (name == nullptr) return nullptr;
  std::snprintf(m_fileName, sizeof m_fileName, "%s", name);
  return m_fileName;
}

void DeviceUtilitiesFW::WriteRegister(uint32_t address, uint32_t value) {
  FWCnslError error(kErrorFile, kWriteRegisterLine);
  ClientModeApi_WriteRegister(&error, DeviceId(), address, value);
  error.ThrowIfError();
}

uint32_t DeviceUtilitiesFW::ReadRegister(uint32_t address) {
  FWCnslError error(kErrorFile, kReadRegisterLine);
  const uint32_t value = ClientModeApi_ReadRegister(&error, DeviceId(), address);
  error.ThrowIfError();
  return value;
}

void DeviceUtilitiesFW::DisplayText(const char* text) {
  WriteRegister(FireWireRegisterDisplayCommand, kDisplayClear);
  if (text == nullptr) return;
  const size_t length = std::strlen(text);
  for (size_t i = 0; i < length; ++i) {
    if (i == kDisplayLineLength) WriteRegister(FireWireRegisterDisplayCommand, kDisplaySecondLine);
    // The unit takes a character as a sign-extended word.
    const int32_t character = static_cast<signed char>(text[i]);
    WriteRegister(FireWireRegisterDisplayData, static_cast<uint32_t>(character));
  }
}

void DeviceUtilitiesFW::TakeImageHeader(const FirmwareImageHeader* header) {
  FormatFirmwareVersion(m_versionText, header);
}

void DeviceUtilitiesFW::AcceptImageHeader(const FirmwareImageHeader* header) {
  TakeImageHeader(header);
}

void DeviceUtilitiesFW::AfterStartingUp() { WriteRegister(FireWireRegisterUnlock, kUnlockWord); }

void DeviceUtilitiesFW::OnRecordStart(uint32_t length) {
  if (m_client != nullptr) m_client->SetRecordRange(0, static_cast<int>(length));
}

void DeviceUtilitiesFW::BeforeFirstAttempt() { WriteRegister(FireWireRegisterUnlock, kUnlockWord); }

void DeviceUtilitiesFW::FillChunk(const uint8_t* data, uint32_t count) {
  // Whole words only: an image whose records are not whole words never
  // gets this far, and no byte past the data is read.
  const uint32_t words = count / 4;
  for (uint32_t k = 0; k < words; ++k) {
    WriteRegister(FireWireRegisterDataWindow + 4 * k, ReadLE32(data + 4 * k));
    CountBytesSent(4);
  }
}

void DeviceUtilitiesFW::ProgramChunk(uint32_t command, uint32_t argument1, uint32_t argument2) {
  IssueCommand(command, argument1, argument2);
}

void DeviceUtilitiesFW::OnChunkDone(uint32_t sentSoFar) {
  if (m_client != nullptr) m_client->SetRecordPosAndRedraw(static_cast<int>(sentSoFar));
}

uint32_t DeviceUtilitiesFW::QueryUnit(uint32_t command, uint32_t argument1, uint32_t argument2) {
  IssueCommand(command, argument1, argument2);
  return ReadRegister(FireWireRegisterResult);
}

void DeviceUtilitiesFW::OnCompared(uint32_t command, uint32_t computed, uint32_t unit) {
  const char* equal = nullptr;
  const char* different = nullptr;
  switch (command) {
    case DeviceCommandInternalChecksum:
      equal = "intern checksum matches\n";
      different = "intern checksum didnt match %08lx %08lx\n";
      break;
    case DeviceCommandExternalChecksum:
      equal = "extern checksum matches\n";
      different = "extern checksum didnt match %08lx %08lx\n";
      break;
    case DeviceCommandInternalCrc:
      equal = "internal crc matches\n";
      different = "intern crc didnt match %08lx %08lx\n";
      break;
    case DeviceCommandExternalCrc:
      equal = "external crc matches\n";
      different = "extern crc didnt match %08lx %08lx\n";
      break;
    default:
      return;
  }
  if (computed == unit)
    std::fputs(equal, stdout);
  else
    std::printf(different, static_cast<unsigned long>(computed), static_cast<unsigned long>(unit));
}

void DeviceUtilitiesFW::IssueCommand(uint32_t command, uint32_t argument1, uint32_t argument2) {
  WriteRegister(FireWireRegisterArgument1, argument1);
  WriteRegister(FireWireRegisterArgument2, argument2);
  WriteRegister(FireWireRegisterCommand, command);
  WaitWhileBusy();
}

void DeviceUtilitiesFW::WaitWhileBusy() {
  // No limit: the unit clears the busy bits, or a register read throws.
  do {
    Sleep(kBusyPollMilliseconds);
  } while ((ReadRegister(FireWireRegisterStatus) & kStatusBusyMask) != 0);
}
