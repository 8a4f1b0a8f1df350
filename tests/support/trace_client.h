// A dialog client for the device suites: every call it gets is written into
// a trace the test shares with whatever else it records (the unit's commands,
// the device's own steps), so that one list shows their order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Device.h"

namespace support {

class TraceClient : public UpdaterDlgClient {
 public:
  explicit TraceClient(std::vector<std::string>& trace) : m_trace(trace) {}
  void SetRecordPosAndRedraw(int p) override { m_trace.push_back("redraw " + std::to_string(p)); }
  void SetRecordRange(int l, int h) override {
    m_trace.push_back("range " + std::to_string(l) + " " + std::to_string(h));
  }
  void SetRecordPos(int p) override { m_trace.push_back("pos " + std::to_string(p)); }
  void RefreshStatus() override { m_trace.push_back("refresh"); }
  void ReportProgress() override {
    m_trace.push_back("progress");
    if (device != nullptr) progress.push_back(device->GetBytesDone());
  }
  void SetStatus(int s) override { m_trace.push_back("status " + std::to_string(s)); }

  Device* device = nullptr;
  std::vector<uint32_t> progress;  // bytes done at each progress report

 private:
  std::vector<std::string>& m_trace;
};

}  // namespace support
