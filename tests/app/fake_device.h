// A device that only answers what the dialog asks of it.
#pragma once

#include <device/Device.h>

#include <functional>
#include <string>
#include <vector>

class FakeDevice : public Device {
 public:
  std::wstring versionText;
  uint32_t totalBytes = 0;
  uint32_t bytesDone = 0;
  std::vector<std::string> displayTexts;
  std::function<void()> onDestroy;
  // Run by Update in place of an update (it may throw).
  std::function<int()> onUpdate;

  ~FakeDevice() override {
    if (onDestroy) {
      onDestroy();
    }
  }

  void WriteRegister(uint32_t, uint32_t) override {}
  void DisplayText(const char* text) override { displayTexts.emplace_back(text ? text : ""); }
  void TakeImageHeader(const FirmwareImageHeader*) override {}
  uint32_t WriteRecord(const FirmwareRecordHeader*, const uint8_t*) override { return 0; }
  int Update(int) override { return onUpdate ? onUpdate() : 15; }
  const wchar_t* GetVersionText() override { return versionText.c_str(); }
  uint32_t GetTotalBytes() override { return totalBytes; }
  uint32_t GetBytesDone() override { return bytesDone; }
  USBHIDInterface* GetHidInterface() override { return nullptr; }
};
