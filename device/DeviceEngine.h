// What both device classes share: the fields every device keeps, the record
// walk of Update, the compare-then-write of WriteRecord, the bytes-done
// accounting and the check of a freshly read image. A bus class derives from
// DeviceEngine, implements the remaining Device slots (WriteRegister,
// DisplayText, TakeImageHeader, GetHidInterface) and the bus hooks below.
//
// Order of one Update (hooks in brackets):
//   [BeforeImage]; name = [ImageFileName] (null: 14); open, read whole, close;
//   check the image (bad: 14, nothing sent); [AcceptImageHeader];
//   totals; DisplayText("Starting Up..."); [AfterStartingUp];
//   per record: WriteRecord, client ReportProgress;
//   DisplayText(complete or failed text); [AfterWalk]; 15, or 7 when a record
//   still differed after three attempts.
//
// Order of one WriteRecord (hooks in brackets):
//   bytes done += header size; [OnRecordStart]; compare;
//   equal: bytes done += length, return length.
//   [BeforeFirstAttempt]; up to three attempts of:
//     [OnAttemptStart]; per chunk: [OnChunkStart], [FillChunk],
//     [ProgramChunk], [OnChunkDone], client ReportProgress;
//     [BeforeRecompare]; compare; equal: return length;
//     else bytes done -= length.
//   return 0.
// A compare is the sum command and, only when the sum agrees, the CRC command,
// each through [QueryUnit] and then [OnCompared].
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/Device.h"
#include "device/FirmwareImage.h"

// Checks a whole image before any of it is sent to a unit: the header and
// every record lie inside the image, the first record starts after the
// header, every record header holds at least FirmwareRecordHeader::kSize
// bytes, the record sizes add up exactly to the total bytes without
// overflow, external records hold whole pages and, when wholeWords is set,
// every record holds whole 32-bit words; no record's flash range (bytes, or
// pages for external records) runs past 2^32.
bool FirmwareImageIsSound(const uint8_t* image, size_t length, bool wholeWords);

class DeviceEngine : public Device {
 public:
  // The display texts of the update's start and end.
  static constexpr const char* kStartingUpText = "Starting Up...";
  static constexpr const char* kCompleteText = "Update Complete Pls Power Cycle";
  static constexpr const char* kFailedText = "Update Failed   Pls Retry";
  static constexpr size_t kDisplayTextLength = 64;

  explicit DeviceEngine(UpdaterDlgClient* client);

  uint32_t WriteRecord(const FirmwareRecordHeader* record, const uint8_t* recordBase) override;
  int Update(int unused) override;
  const wchar_t* GetVersionText() override { return m_versionText; }
  uint32_t GetTotalBytes() override { return m_totalBytes; }
  uint32_t GetBytesDone() override { return m_bytesDone; }

 protected:
  // --- bus hooks -------------------------------------------------------
  // Name of the image file in the current directory; null when the unit
  // has none, which ends the update with 14.
  virtual const char* ImageFileName() = 0;
  // Before the image is looked for (USB: status 9 and a refresh).
  virtual void BeforeImage() {}
  // True when records must hold whole 32-bit words (FireWire).
  virtual bool NeedsWholeWords() const { return false; }
  // A sound image's header (default: its version into the version text;
  // FireWire: TakeImageHeader).
  virtual void AcceptImageHeader(const FirmwareImageHeader* header);
  // After "Starting Up..." is shown, before the first record (FireWire:
  // the unlock word).
  virtual void AfterStartingUp() {}
  // After the final display text (USB: a status refresh).
  virtual void AfterWalk() {}

  // Once per record, before its first compare (USB: status 9; FireWire:
  // record range (0, length)).
  virtual void OnRecordStart(uint32_t length) { (void)length; }
  // Once per record that differs, before its first attempt (FireWire:
  // the unlock word).
  virtual void BeforeFirstAttempt() {}
  // At the start of each attempt (USB: range (0, length), position 0,
  // status 10).
  virtual void OnAttemptStart(uint32_t length) { (void)length; }
  // Before each chunk, with the record's bytes sent so far in this attempt
  // (USB: record position).
  virtual void OnChunkStart(uint32_t sentSoFar) { (void)sentSoFar; }
  // Fills the unit's chunk buffer from offset 0 with count bytes, calling
  // CountBytesSent for what goes out (per packet or per word).
  virtual void FillChunk(const uint8_t* data, uint32_t count) = 0;
  // Programs the chunk buffer: command 6 (first page, pages) or 8 (byte
  // address, bytes), returning when the unit is ready for the next step.
  virtual void ProgramChunk(uint32_t command, uint32_t argument1, uint32_t argument2) = 0;
  // After each chunk is programmed, with the record's bytes sent so far in
  // this attempt (FireWire: record position and redraw). The engine then
  // calls the client's ReportProgress.
  virtual void OnChunkDone(uint32_t sentSoFar) { (void)sentSoFar; }
  // Before the compare that follows an attempt (USB: status 9).
  virtual void BeforeRecompare() {}
  // Sends a compare command (9 to 12) and returns the unit's result word.
  virtual uint32_t QueryUnit(uint32_t command, uint32_t argument1, uint32_t argument2) = 0;
  // After each compare command, with the value computed here and the
  // unit's (FireWire prints them).
  virtual void OnCompared(uint32_t command, uint32_t computed, uint32_t unit) {
    (void)command;
    (void)computed;
    (void)unit;
  }

  // --- helpers for bus classes ------------------------------------------
  // Adds bytes just sent to the bytes-done count.
  void CountBytesSent(uint32_t count) { m_bytesDone += count; }

  // The compares; true when the unit's value differs (a mismatch).
  // External ones reject a length that is not whole pages without asking.
  bool VerifyInternalChecksum(const uint8_t* data, uint32_t length, uint32_t destination);
  bool VerifyExternalChecksum(const uint8_t* data, uint32_t length, uint32_t destination);
  bool VerifyInternalCrc(const uint8_t* data, uint32_t length, uint32_t destination);
  bool VerifyExternalCrc(const uint8_t* data, uint32_t length, uint32_t destination);

  UpdaterDlgClient* m_client;
  uint32_t m_totalBytes;
  uint32_t m_bytesDone;
  char m_displayText[kDisplayTextLength];
  wchar_t m_versionText[kVersionTextLength];

 private:
  bool RecordDiffers(const uint8_t* data, uint32_t length, bool external, uint32_t destination);
  bool Mismatch(uint32_t command, uint32_t argument1, uint32_t argument2, uint32_t computed);
  // Rejects a length that is not whole pages, else asks with the page count.
  bool ExternalMismatch(uint32_t command, uint32_t firstPage, uint32_t length, uint32_t computed);
  void ShowText(const char* text);

  // Set by WriteRecord when a record still differs after three attempts.
  bool m_recordFailed;
};
