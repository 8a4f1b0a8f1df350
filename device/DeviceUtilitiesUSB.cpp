#include "device/DeviceUtilitiesUSB.h"

#include <cstring>
#include <exception>

#include "device/UpdateStatus.h"

namespace {
struct UsbFirmwareFile {
  uint32_t productCode;
  const char* name;
};

constexpr UsbFirmwareFile kUsbFirmwareFiles[] = {
    {UsbProductPlimo, "plimo.bin"},
    {UsbProductKetritandra, "ketritandra.bin"},
    {UsbProductHalvi, "halvi.bin"},
    {UsbProductOrveltandra, "Orveltandra.bin"},
    {UsbProductPaskotandra, "Paskotandra.bin"},
    {UsbProductDunmi, "Dunmi.bin"},
    {UsbProductZolte, "Zolte.bin"},
    {UsbProductFenra, "Fenra.bin"},
    {UsbProductQuen, "Quen.bin"},
    {UsbProductVorloII, "VorloII.bin"},
};

constexpr uint32_t kPacketSize = HidCommandReport::kDataLength;
}  // namespace

const char* UsbFirmwareFileName(uint32_t productCode) {
  for (const UsbFirmwareFile& file : kUsbFirmwareFiles) {
    if (file.productCode == productCode) return file.name;
  }
  return nullptr;
}

DeviceUtilitiesUSB::DeviceUtilitiesUSB(UpdaterDlgClient* client)
    : DeviceEngine(client), m_responseBuffer{} {
  m_programExternal.SetCommand(DeviceCommandProgramExternal);
  m_programExternal.SetArgument3(0);
  m_programInternal.SetCommand(DeviceCommandProgramInternal);
  m_programInternal.SetArgument3(0);
  m_writeData.SetCommand(DeviceCommandWriteData);
  m_writeData.SetArgument3(0);
}

DeviceUtilitiesUSB::~DeviceUtilitiesUSB() = default;

void DeviceUtilitiesUSB::WriteRegister(uint32_t, uint32_t) {}

void DeviceUtilitiesUSB::TakeImageHeader(const FirmwareImageHeader*) {}

void DeviceUtilitiesUSB::Send(const HidCommandReport& block, BYTE* response, uint32_t length) {
  if (m_hid.SendCommand(block, response, length) != 0) throw std::exception();
}

void DeviceUtilitiesUSB::DisplayText(const char* text) {
  HidCommandReport block;
  block.SetCommand(DeviceCommandDisplayText);
  if (text != nullptr) {
    // A longer text is cut after its 48th byte, without a terminator.
    const size_t length = strnlen(text, HidCommandReport::kDataLength);
    std::memcpy(block.Data(), text, length);
  }
  Send(block, nullptr, 0);
}

const char* DeviceUtilitiesUSB::ImageFileName() {
  return UsbFirmwareFileName(m_hid.GetProductCode());
}

void DeviceUtilitiesUSB::BeforeImage() {
  if (m_client != nullptr) {
    m_client->SetStatus(UpdateStatusComparing);
    m_client->RefreshStatus();
  }
}

void DeviceUtilitiesUSB::AfterWalk() {
  if (m_client != nullptr) m_client->RefreshStatus();
}

void DeviceUtilitiesUSB::OnRecordStart(uint32_t) {
  if (m_client != nullptr) m_client->SetStatus(UpdateStatusComparing);
}

void DeviceUtilitiesUSB::OnAttemptStart(uint32_t length) {
  if (m_client != nullptr) {
    m_client->SetRecordRange(0, static_cast<int>(length));
    m_client->SetRecordPos(0);
    m_client->SetStatus(UpdateStatusUpdating);
  }
}

void DeviceUtilitiesUSB::OnChunkStart(uint32_t sentSoFar) {
  if (m_client != nullptr) m_client->SetRecordPos(static_cast<int>(sentSoFar));
}

void DeviceUtilitiesUSB::FillChunk(const uint8_t* data, uint32_t count) {
  // The offset is within the unit's chunk buffer, so it starts at 0 in
  // every chunk.
  for (uint32_t offset = 0; offset < count;) {
    const uint32_t left = count - offset;
    const uint32_t packet = left < kPacketSize ? left : kPacketSize;
    m_writeData.SetCommand(DeviceCommandWriteData);
    m_writeData.SetArgument1(offset);
    m_writeData.SetArgument2(packet);
    m_writeData.SetArgument3(0);
    std::memset(m_writeData.Data(), 0, HidCommandReport::kDataLength);
    std::memcpy(m_writeData.Data(), data + offset, packet);
    CountBytesSent(packet);
    Send(m_writeData, nullptr, 0);
    offset += packet;
  }
}

void DeviceUtilitiesUSB::ProgramChunk(uint32_t command, uint32_t argument1, uint32_t argument2) {
  HidCommandReport& block =
      command == DeviceCommandProgramExternal ? m_programExternal : m_programInternal;
  block.SetCommand(command);
  block.SetArgument1(argument1);
  block.SetArgument2(argument2);
  block.SetArgument3(0);
  Send(block, nullptr, 0);
}

void DeviceUtilitiesUSB::BeforeRecompare() {
  if (m_client != nullptr) m_client->SetStatus(UpdateStatusComparing);
}

uint32_t DeviceUtilitiesUSB::QueryUnit(uint32_t command, uint32_t argument1, uint32_t argument2) {
  std::memset(m_responseBuffer, 0, HidCommandReport::kSize);
  HidCommandReport block;
  block.SetCommand(command);
  block.SetArgument1(argument1);
  block.SetArgument2(argument2);
  block.SetArgument3(0);
  Send(block, m_responseBuffer, kResponseBufferSize);
  return HidResponseReport::Result(m_responseBuffer);
}
