// The demo's simulated unit: its model, its firmware image and the flash it
// keeps between runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/UpdaterUnit.h"

namespace demo {

enum class Bus { Usb, FireWire };

struct Model {
  std::string name;  // as the user names it: "Dunmi", "Orvel", ...
  Bus bus;
  std::uint32_t code;     // the HID version number, or the FireWire model code
  std::string imageFile;  // the name the updater reads it under
};

// The models the demo knows, USB ones first.
const std::vector<Model>& Models();
// Case does not matter; null when there is none of that name.
const Model* FindModel(const std::string& name);
// The model a program file name suggests: the first model whose name is in
// it (case matters, as for the product kind), else Dunmi; Orvel on
// FireWire.
const Model& ModelForFileName(const std::wstring& fileName, Bus bus);

// The flash sizes of the demo's unit.
constexpr std::uint32_t kInternalSize = 256 * 1024;
constexpr std::uint32_t kExternalPages = 512;

// The image the demo updates with: the same bytes on every run, so a second
// run against the kept flash finds nothing to write.
std::vector<std::uint8_t> BuildImage(const Model& model);

// The unit's flash, kept in a file of the working directory between runs.
std::string FlashFileName(const Model& model);
bool LoadFlash(sim::UpdaterUnit& unit, const std::string& path);
bool SaveFlash(const sim::UpdaterUnit& unit, const std::string& path);

// The unit's display text in its lines of 16 characters (trailing blanks
// and zero bytes dropped, empty lines at the end too).
std::vector<std::string> DisplayLines(const std::string& text);

// A JSON string literal of the text.
std::string Json(const std::string& text);

}  // namespace demo
