// Test equipment: a FireWire unit in its update mode behind the simulated
// driver. Its registers are the updater's (FireWireUpdaterRegisters over a
// sim::UpdaterUnit), and a fault knob makes the driver fail one chosen
// register access with an error code and text of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/FireWireUpdaterRegisters.h"
#include "sim/SimFireWireDriver.h"
#include "sim/UpdaterUnit.h"

namespace sim {

class SimFireWireUpdater : public SimFireWireUnit {
 public:
  SimFireWireUpdater(uint64_t id, std::u16string name, uint32_t modelCode, UpdaterUnit& unit);

  uint32_t ReadRegister(uint32_t address) override { return registers.Read(address); }
  void WriteRegister(uint32_t address, uint32_t value) override { registers.Write(address, value); }

  FireWireUpdaterRegisters registers;
};

// Fails the n-th register read or write (counted from 1, from the moment the
// fault is armed) of one register, or of any register, once: the driver
// writes the code and text into the caller's error record and the unit never
// sees the access. It owns the driver's API hook while it lives.
class FireWireRegisterFault {
 public:
  static constexpr uint32_t kAnyRegister = 0xFFFFFFFF;

  explicit FireWireRegisterFault(SimFireWireDriver& driver);
  ~FireWireRegisterFault();
  FireWireRegisterFault(const FireWireRegisterFault&) = delete;
  FireWireRegisterFault& operator=(const FireWireRegisterFault&) = delete;

  void Arm(bool write, uint32_t address, size_t n, int32_t code, const std::string& text);
  // True once the armed access has been failed.
  bool Fired() const;

 private:
  void OnApi(uint32_t api, const unsigned char* block);

  SimFireWireDriver& m_driver;
  mutable std::mutex m_mutex;
  bool m_armed = false;
  bool m_write = false;
  uint32_t m_address = kAnyRegister;
  size_t m_left = 0;
  int32_t m_code = 0;
  std::string m_text;
  bool m_fired = false;
  bool m_clearPending = false;
};

}  // namespace sim
