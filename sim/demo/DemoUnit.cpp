#include "DemoUnit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "device/DeviceUtilitiesFW.h"
#include "device/DeviceUtilitiesUSB.h"
#include "sim/ImageBuilder.h"
#include "usb/HidReports.h"

namespace demo {

const std::vector<Model>& Models() {
  static const std::vector<Model> models = [] {
    struct Entry {
      const char* name;
      Bus bus;
      std::uint32_t code;
    };
    const Entry entries[] = {
        {"Dunmi", Bus::Usb, UsbProductDunmi},
        {"Plimo", Bus::Usb, UsbProductPlimo},
        {"Halvi", Bus::Usb, UsbProductHalvi},
        {"Quen", Bus::Usb, UsbProductQuen},
        {"Zolte", Bus::Usb, UsbProductZolte},
        {"Fenra", Bus::Usb, UsbProductFenra},
        {"VorloII", Bus::Usb, UsbProductVorloII},
        {"Ketritandra", Bus::Usb, UsbProductKetritandra},
        {"Orveltandra", Bus::Usb, UsbProductOrveltandra},
        {"Paskotandra", Bus::Usb, UsbProductPaskotandra},
        {"Orvel", Bus::FireWire, static_cast<std::uint32_t>(FireWireModelOrvel)},
        {"Pasko", Bus::FireWire, static_cast<std::uint32_t>(FireWireModelPasko)},
        {"Ketri", Bus::FireWire, static_cast<std::uint32_t>(FireWireModelKetri)},
        {"Sondu", Bus::FireWire, static_cast<std::uint32_t>(FireWireModelSondu)},
    };
    std::vector<Model> out;
    for (const Entry& e : entries) {
      const char* file = e.bus == Bus::Usb
                             ? UsbFirmwareFileName(e.code)
                             : DeviceUtilitiesFW::FileNameForModel(static_cast<int32_t>(e.code));
      out.push_back({e.name, e.bus, e.code, file != nullptr ? file : ""});
    }
    return out;
  }();
  return models;
}

const Model* FindModel(const std::string& name) {
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  };
  for (const Model& m : Models())
    if (lower(m.name) == lower(name)) return &m;
  return nullptr;
}

const Model& ModelForFileName(const std::wstring& fileName, Bus bus) {
  // The Tandra names stand for the USB editions of the FireWire models.
  if (bus == Bus::Usb && fileName.find(L"Tandra") != std::wstring::npos)
    return *FindModel("Ketritandra");
  for (const Model& m : Models()) {
    if (m.bus != bus) continue;
    const std::wstring word(m.name.begin(), m.name.end());
    if (fileName.find(word) != std::wstring::npos) return m;
  }
  return *FindModel(bus == Bus::Usb ? "Dunmi" : "Orvel");
}

std::vector<std::uint8_t> BuildImage(const Model& model) {
  // Release 2.05: an internal record of 40 KiB and an external one of 40
  // pages, big enough to watch the bars move.
  sim::ImageBuilder builder;
  builder.Version((2u << 20) | (0x05u << 12) | (8u << 8))
      .Model(static_cast<std::uint8_t>(model.code))
      .Internal(0x8000, sim::PatternBytes(40 * 1024, model.code))
      .External(16, sim::PatternBytes(40 * sim::UpdaterUnit::kPageSize, model.code + 1));
  return builder.Build();
}

std::string FlashFileName(const Model& model) { return "unit-" + model.name + ".flash"; }

bool LoadFlash(sim::UpdaterUnit& unit, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<std::uint8_t> internal(kInternalSize);
  std::vector<std::uint8_t> external(static_cast<std::size_t>(kExternalPages) *
                                     sim::UpdaterUnit::kPageSize);
  in.read(reinterpret_cast<char*>(internal.data()), static_cast<std::streamsize>(internal.size()));
  in.read(reinterpret_cast<char*>(external.data()), static_cast<std::streamsize>(external.size()));
  // A file of another size is not the demo's: the unit stays erased.
  if (!in || in.peek() != std::char_traits<char>::eof()) return false;
  unit.LoadInternal(0, internal);
  unit.LoadExternal(0, external);
  return true;
}

bool SaveFlash(const sim::UpdaterUnit& unit, const std::string& path) {
  const auto internal = unit.ReadInternal(0, kInternalSize);
  const auto external = unit.ReadExternal(0, kExternalPages * sim::UpdaterUnit::kPageSize);
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(internal.data()),
              static_cast<std::streamsize>(internal.size()));
    out.write(reinterpret_cast<const char*>(external.data()),
              static_cast<std::streamsize>(external.size()));
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::vector<std::string> DisplayLines(const std::string& text) {
  std::string shown = text.substr(0, std::min(text.find('\0'), text.size()));
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < shown.size(); at += 16) {
    std::string line = shown.substr(at, 16);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace demo
