#include "sim/SimFireWireUpdater.h"

#include <utility>

#include "firewire/ClientModeApi.h"

namespace sim {

SimFireWireUpdater::SimFireWireUpdater(uint64_t id, std::u16string name, uint32_t modelCode,
                                       UpdaterUnit& unit)
    : SimFireWireUnit(id, std::move(name), modelCode), registers(unit) {}

FireWireRegisterFault::FireWireRegisterFault(SimFireWireDriver& driver) : m_driver(driver) {
  m_driver.SetApiHook([this](std::uint32_t api, const unsigned char* block) { OnApi(api, block); });
}

FireWireRegisterFault::~FireWireRegisterFault() {
  m_driver.SetApiHook(nullptr);
  m_driver.ClearApiErrors();
}

void FireWireRegisterFault::Arm(bool write, uint32_t address, size_t n, int32_t code,
                                const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_armed = n > 0;
  m_write = write;
  m_address = address;
  m_left = n;
  m_code = code;
  m_text = text;
  m_fired = false;
}

bool FireWireRegisterFault::Fired() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fired;
}

void FireWireRegisterFault::OnApi(uint32_t api, const unsigned char* block) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // The driver's error for the failed call stays set for one call only.
  if (m_clearPending) {
    m_driver.ClearApiErrors();
    m_clearPending = false;
  }
  if (!m_armed || block == nullptr) return;
  const uint32_t wanted = m_write ? ClientModeApiWriteRegister : ClientModeApiReadRegister;
  if (api != wanted) return;
  const size_t at = ClientModeApiArgs::kRegister;
  const uint32_t address =
      static_cast<uint32_t>(block[at]) | (static_cast<uint32_t>(block[at + 1]) << 8) |
      (static_cast<uint32_t>(block[at + 2]) << 16) | (static_cast<uint32_t>(block[at + 3]) << 24);
  if (m_address != kAnyRegister && address != m_address) return;
  if (--m_left > 0) return;
  m_driver.SetApiError(api, m_code, m_text);
  m_armed = false;
  m_fired = true;
  m_clearPending = true;
}

}  // namespace sim
