#include "device/DeviceEngine.h"

#include <cstdio>
#include <memory>
#include <new>

#include "device/UpdateStatus.h"

bool FirmwareImageIsSound(const uint8_t* image, size_t length, bool wholeWords) {
  if (length < FirmwareImageHeader::kSize) return false;
  const FirmwareImageHeader* header = FirmwareImageHeader::At(image);
  uint64_t position = header->FirstRecordOffset();
  // A first record inside the header would read header fields as its own.
  if (position < FirmwareImageHeader::kSize || position > length) return false;
  uint64_t remaining = header->TotalBytes();
  while (remaining != 0) {
    if (length - position < FirmwareRecordHeader::kSize) return false;
    const FirmwareRecordHeader* record = FirmwareRecordHeader::At(image + position);
    const uint32_t headerSize = record->HeaderSize();
    const uint32_t dataLength = record->DataLength();
    // A header size below the fields read would also let an empty record
    // stall the walk for ever.
    if (headerSize < FirmwareRecordHeader::kSize) return false;
    // A record with nothing to write is not part of a sound image.
    if (dataLength == 0) return false;
    const uint64_t size = static_cast<uint64_t>(headerSize) + dataLength;
    if (size > UINT32_MAX || size > remaining || size > length - position) return false;
    if (record->IsExternal() && dataLength % kExternalPageSize != 0) return false;
    if (wholeWords && dataLength % 4 != 0) return false;
    // The unit's byte addresses and page numbers are 32 bits: a range
    // running past 2^32 would wrap round to flash the image never names.
    // One that ends exactly at 2^32 still names only what exists.
    const uint64_t units = record->IsExternal() ? dataLength / kExternalPageSize : dataLength;
    if (record->Destination() + units > (uint64_t{1} << 32)) return false;
    position += size;
    remaining -= size;
  }
  return true;
}

DeviceEngine::DeviceEngine(UpdaterDlgClient* client)
    : m_client(client),
      m_totalBytes(0),
      m_bytesDone(0),
      m_displayText{},
      m_versionText{},
      m_recordFailed(false) {}

void DeviceEngine::AcceptImageHeader(const FirmwareImageHeader* header) {
  FormatFirmwareVersion(m_versionText, header);
}

void DeviceEngine::ShowText(const char* text) {
  std::snprintf(m_displayText, sizeof m_displayText, "%s", text);
  DisplayText(m_displayText);
}

int DeviceEngine::Update(int) {
  BeforeImage();
  const char* name = ImageFileName();
  if (name == nullptr) return UpdateStatusBadSource;
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return UpdateStatusBadSource;
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return UpdateStatusBadSource;
  }
  std::unique_ptr<uint8_t[]> image(new (std::nothrow)
                                       uint8_t[length > 0 ? static_cast<size_t>(length) : 1]);
  if (!image) {
    std::fclose(file);
    return UpdateStatusBadSource;
  }
  const size_t got = std::fread(image.get(), 1, static_cast<size_t>(length), file);
  std::fclose(file);

  // A malformed image would be walked past its end or for ever; it never
  // reaches the unit.
  if (got != static_cast<size_t>(length) ||
      !FirmwareImageIsSound(image.get(), got, NeedsWholeWords()))
    return UpdateStatusBadSource;

  const FirmwareImageHeader* header = FirmwareImageHeader::At(image.get());
  AcceptImageHeader(header);
  m_totalBytes = header->TotalBytes();
  m_bytesDone = 0;
  m_recordFailed = false;

  ShowText(kStartingUpText);
  AfterStartingUp();

  uint32_t remaining = m_totalBytes;
  const uint8_t* cursor = image.get() + header->FirstRecordOffset();
  while (remaining != 0) {
    const FirmwareRecordHeader* record = FirmwareRecordHeader::At(cursor);
    const uint32_t size = record->HeaderSize() + record->DataLength();
    WriteRecord(record, cursor);
    remaining -= size;
    cursor += size;
    if (m_client != nullptr) m_client->ReportProgress();
  }

  // A record the unit still does not hold is not a finished update.
  ShowText(m_recordFailed ? kFailedText : kCompleteText);
  AfterWalk();
  return m_recordFailed ? UpdateStatusUnverified : UpdateStatusDone;
}

uint32_t DeviceEngine::WriteRecord(const FirmwareRecordHeader* record, const uint8_t* recordBase) {
  const uint32_t headerSize = record->HeaderSize();
  const uint32_t length = record->DataLength();
  const bool external = record->IsExternal();
  const uint32_t destination = record->Destination();
  const uint8_t* data = recordBase + headerSize;
  m_bytesDone += headerSize;

  OnRecordStart(length);
  if (!RecordDiffers(data, length, external, destination)) {
    m_bytesDone += length;
    return length;
  }

  BeforeFirstAttempt();
  const uint32_t room = external ? kExternalChunkSize : kInternalChunkSize;
  for (int attempt = 0; attempt < 3; ++attempt) {
    OnAttemptStart(length);
    uint32_t position = destination;
    const uint8_t* source = data;
    uint32_t left = length;
    while (left > 0) {
      OnChunkStart(length - left);
      const uint32_t chunk = left < room ? left : room;
      FillChunk(source, chunk);
      if (external) {
        const uint32_t pages = (chunk + kExternalPageSize - 1) / kExternalPageSize;
        ProgramChunk(DeviceCommandProgramExternal, position, pages);
        position += pages;
      } else {
        ProgramChunk(DeviceCommandProgramInternal, position, chunk);
        position += chunk;
      }
      source += chunk;
      left -= chunk;
      OnChunkDone(length - left);
      if (m_client != nullptr) m_client->ReportProgress();
    }
    BeforeRecompare();
    if (!RecordDiffers(data, length, external, destination)) return length;
    m_bytesDone -= length;
  }
  m_recordFailed = true;
  return 0;
}

bool DeviceEngine::RecordDiffers(const uint8_t* data, uint32_t length, bool external,
                                 uint32_t destination) {
  if (external)
    return VerifyExternalChecksum(data, length, destination) ||
           VerifyExternalCrc(data, length, destination);
  return VerifyInternalChecksum(data, length, destination) ||
         VerifyInternalCrc(data, length, destination);
}

bool DeviceEngine::Mismatch(uint32_t command, uint32_t argument1, uint32_t argument2,
                            uint32_t computed) {
  const uint32_t unit = QueryUnit(command, argument1, argument2);
  OnCompared(command, computed, unit);
  return unit != computed;
}

bool DeviceEngine::ExternalMismatch(uint32_t command, uint32_t firstPage, uint32_t length,
                                    uint32_t computed) {
  if (length % kExternalPageSize != 0) {
    std::printf("invalid external flash size\n");
    return true;
  }
  return Mismatch(command, firstPage, length / kExternalPageSize, computed);
}

bool DeviceEngine::VerifyInternalChecksum(const uint8_t* data, uint32_t length,
                                          uint32_t destination) {
  return Mismatch(DeviceCommandInternalChecksum, destination, length,
                  FirmwareByteSum(data, length));
}

bool DeviceEngine::VerifyInternalCrc(const uint8_t* data, uint32_t length, uint32_t destination) {
  return Mismatch(DeviceCommandInternalCrc, destination, length, FirmwareCrc16(data, length));
}

bool DeviceEngine::VerifyExternalChecksum(const uint8_t* data, uint32_t length,
                                          uint32_t destination) {
  return ExternalMismatch(DeviceCommandExternalChecksum, destination, length,
                          FirmwareByteSum(data, length));
}

bool DeviceEngine::VerifyExternalCrc(const uint8_t* data, uint32_t length, uint32_t destination) {
  return ExternalMismatch(DeviceCommandExternalCrc, destination, length,
                          FirmwareCrc16(data, length));
}
