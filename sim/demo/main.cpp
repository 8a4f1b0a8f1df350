// The demo: the updater itself (the application object, its dialog, the
// real USB and FireWire links and device classes) on the host, against a
// simulated unit in its update mode, drawn in the terminal. It lives on the
// host only; the product never links the simulated equipment.
//
//   Updater [--bus usb|firewire] [--model NAME] [--fresh] [--pace MS]
//           [--time-scale X] [--script] [--wait S]
//
// As on Windows, the program's own file name chooses the product kind
// ("Plimo Updater" shows the Plimo texts); it also names the simulated
// unit's model unless --model does. The FireWire kind is chosen by no file
// name: --bus firewire opens the dialog with that kind directly.
//
// The working directory holds the firmware image the demo writes for the
// model, the unit's flash between runs (unit-MODEL.flash; --fresh starts
// from erased flash) and the product's own traces (traces.log).
//
// --script runs without a terminal: it presses "Update Now" once the dialog
// shows status 0, closes the dialog when the update is over, and writes one
// JSON object a line to standard output (see README.md).
#include <app/ProductKind.h>
#include <app/Updater.h>
#include <app/UpdaterDlg.h>
#include <platform/host/providers.h>
#include <platform/host/term_front.h>
#include <platform/host/ui_driver.h>
#include <platform/timescale.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DemoUnit.h"
#include "sim/ImageBuilder.h"
#include "sim/SimFireWireDriver.h"
#include "sim/SimFireWireUpdater.h"
#include "sim/SimHidUnit.h"
#include "sim/UpdaterUnit.h"

namespace {

using namespace platform::ui;

constexpr const wchar_t* kCaption = L"VARN Firmware Updater";
constexpr const wchar_t* kReadyText =
    L"Click the Update Now button to begin updating the device's firmware.";

struct Options {
  demo::Bus bus = demo::Bus::Usb;
  std::string model;
  bool fresh = false;
  bool script = false;
  unsigned pace = 3;
  std::optional<double> timeScale;
  double wait = 30;
};

[[noreturn]] void Usage(const char* message) {
  std::fprintf(stderr,
               "%s\nusage: Updater [--bus usb|firewire] [--model NAME] [--fresh] [--pace MS]\n"
               "               [--time-scale X] [--script] [--wait SECONDS]\nmodels:",
               message);
  for (const auto& m : demo::Models())
    std::fprintf(stderr, " %s(%s)", m.name.c_str(), m.bus == demo::Bus::Usb ? "usb" : "firewire");
  std::fprintf(stderr, "\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
      return argv[++i];
    };
    if (a == "--bus") {
      const std::string v = value();
      if (v == "usb")
        o.bus = demo::Bus::Usb;
      else if (v == "firewire")
        o.bus = demo::Bus::FireWire;
      else
        Usage("--bus takes usb or firewire");
    } else if (a == "--model") {
      o.model = value();
    } else if (a == "--fresh") {
      o.fresh = true;
    } else if (a == "--script") {
      o.script = true;
    } else if (a == "--pace") {
      o.pace = static_cast<unsigned>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (a == "--time-scale") {
      o.timeScale = std::strtod(value().c_str(), nullptr);
      if (!(*o.timeScale > 0)) Usage("--time-scale takes a positive factor");
    } else if (a == "--wait") {
      o.wait = std::strtod(value().c_str(), nullptr);
    } else {
      Usage(("unknown option " + a).c_str());
    }
  }
  return o;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

void WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The scripted run: what the dialog showed and what the unit received, as
// JSON lines, in the order they happened (commands and display texts are
// written out before each new status text, and at the end).
// What the unit's display has shown, from whichever bus drives it.
struct DisplaySource {
  // Every text shown, oldest first; the last may still be being written.
  std::function<std::vector<std::string>()> history;
  // The display as it stands, line by line.
  std::function<std::vector<std::string>()> lines;
};

class Recorder {
 public:
  Recorder(int out, sim::UpdaterUnit& unit, DisplaySource display)
      : out_(out), unit_(unit), display_(std::move(display)) {}

  void Line(const std::string& json) { WriteAll(out_, json + "\n"); }

  // At the end the last display text is complete too.
  void Flush(bool final = false) {
    const auto log = unit_.Log();
    for (; commands_ < log.size(); ++commands_) {
      const auto& c = log[commands_];
      Line("{\"type\":\"command\",\"code\":" + std::to_string(c.command) +
           ",\"arg1\":" + std::to_string(c.argument1) + ",\"arg2\":" + std::to_string(c.argument2) +
           ",\"length\":" + std::to_string(c.dataLength) + "}");
    }
    const auto shown = display_.history();
    const std::size_t complete = final || shown.empty() ? shown.size() : shown.size() - 1;
    for (; displays_ < complete; ++displays_) {
      const std::string& text = shown[displays_];
      Line("{\"type\":\"display\",\"text\":" +
           demo::Json(text.substr(0, std::min(text.find('\0'), text.size()))) + "}");
    }
  }

  void Look(HWND dialog) {
    auto c = Control(dialog, IDC_STATUS_TEXT);
    if (!c || (seen_ && c->text == text_)) return;
    Flush();
    seen_ = true;
    text_ = c->text;
    Line("{\"type\":\"status\",\"text\":" + demo::Json(Narrow(text_)) + "}");
  }

 private:
  int out_;
  sim::UpdaterUnit& unit_;
  DisplaySource display_;
  std::size_t commands_ = 0;
  std::size_t displays_ = 0;
  bool seen_ = false;
  std::wstring text_;
};

// Presses "Update Now" once status 0 shows, and closes the dialog on the
// first idle turn after the update (which runs inside the press).
class Presser {
 public:
  Presser(Recorder& recorder, double waitSeconds)
      : recorder_(recorder),
        deadline_(std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000))) {
    previousIdle_ = SetIdleHook([this] { Turn(); });
    previousChange_ = SetChangeHook([this](HWND w) {
      if (previousChange_) previousChange_(w);
      if (main_ != nullptr) recorder_.Look(main_);
    });
  }
  ~Presser() {
    SetIdleHook(std::move(previousIdle_));
    SetChangeHook(std::move(previousChange_));
  }
  bool TimedOut() const { return timedOut_; }

 private:
  void Turn() {
    if (main_ == nullptr) {
      HWND top = TopDialog();
      auto state = top ? Inspect(top) : std::nullopt;
      if (!state || state->caption != kCaption) return;
      main_ = top;
    }
    recorder_.Look(main_);
    switch (stage_) {
      case Stage::Waiting: {
        auto text = Control(main_, IDC_STATUS_TEXT);
        auto button = Control(main_, IDC_UPDATE_NOW);
        if (text && button && text->text == kReadyText && button->visible &&
            ModalStack().size() == 1) {
          recorder_.Line("{\"type\":\"press\"}");
          Click(main_, IDC_UPDATE_NOW);
          stage_ = Stage::Pressed;
        } else if (std::chrono::steady_clock::now() > deadline_) {
          recorder_.Line("{\"type\":\"timeout\"}");
          timedOut_ = true;
          stage_ = Stage::Closing;
          PressEscape(main_);
        }
        break;
      }
      case Stage::Pressed:
        recorder_.Flush();
        stage_ = Stage::Closing;
        PressEscape(main_);
        break;
      case Stage::Closing:
        break;
    }
  }

  enum class Stage { Waiting, Pressed, Closing };
  Recorder& recorder_;
  std::chrono::steady_clock::time_point deadline_;
  IdleHook previousIdle_;
  ChangeHook previousChange_;
  HWND main_ = nullptr;
  Stage stage_ = Stage::Waiting;
  bool timedOut_ = false;
};

std::vector<std::string> Footer(const demo::Model& model, const DisplaySource& display,
                                bool unicode) {
  auto lines = display.lines();
  lines.resize(std::max<std::size_t>(lines.size(), 2));
  const char* h = unicode ? "\u2500" : "-";
  std::string edge;
  for (int i = 0; i < 18; ++i) edge += h;
  std::vector<std::string> out;
  out.push_back("");
  out.push_back(" The simulated " + model.name + " on " +
                (model.bus == demo::Bus::Usb ? "USB" : "FireWire") + ", its display:");
  out.push_back(std::string(" ") + (unicode ? "\u250c" : "+") + edge + (unicode ? "\u2510" : "+"));
  for (auto& l : lines) {
    l.resize(16, ' ');
    out.push_back(std::string(" ") + (unicode ? "\u2502 " : "| ") + l +
                  (unicode ? " \u2502" : " |"));
  }
  out.push_back(std::string(" ") + (unicode ? "\u2514" : "+") + edge + (unicode ? "\u2518" : "+"));
  return out;
}

bool Utf8Terminal() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') {
      const std::string s = v;
      return s.find("UTF-8") != std::string::npos || s.find("utf8") != std::string::npos ||
             s.find("UTF8") != std::string::npos || s.find("utf-8") != std::string::npos;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);

  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const CString fileName = FileNameFromModulePath(path);
  const demo::Model* model = nullptr;
  if (!options.model.empty()) {
    model = demo::FindModel(options.model);
    if (model == nullptr) Usage(("no model " + options.model).c_str());
    if (model->bus != options.bus) Usage(("the " + model->name + " is not on that bus").c_str());
  } else {
    model = &demo::ModelForFileName(fileName.str(), options.bus);
  }

  // Standard output is the product's trace channel; the demo's own output
  // (the terminal, or the JSON lines) goes to what it was.
  const int out = ::dup(STDOUT_FILENO);
  std::fflush(stdout);
  const int traces = ::open("traces.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (traces >= 0) {
    ::dup2(traces, STDOUT_FILENO);
    ::close(traces);
  }

  // The FireWire unit answers busy for 2 s polls, and its scan runs on the
  // one-second timer: with those at a hundredth the update takes a few
  // seconds. Its waits end when the driver answers, so they keep their
  // length: shrunk, a loaded machine's connect would miss its 1000 ms.
  if (options.timeScale)
    platform::SetTimeScale(*options.timeScale);
  else if (options.bus == demo::Bus::FireWire)
    platform::SetPeriodScale(0.01);

  sim::UpdaterUnit unit(demo::kInternalSize, demo::kExternalPages);
  const std::string flash = demo::FlashFileName(*model);
  if (options.fresh) std::remove(flash.c_str());
  demo::LoadFlash(unit, flash);
  sim::WriteFileBytes(model->imageFile, demo::BuildImage(*model));

  std::unique_ptr<sim::SimHidUnit> hid;
  std::unique_ptr<sim::SimFireWireDriver> driver;
  DisplaySource display;
  if (model->bus == demo::Bus::Usb) {
    hid = std::make_unique<sim::SimHidUnit>(
        unit, sim::SimHidUnit::Info(static_cast<USHORT>(model->code)));
    hid->AnswerAfter(options.pace);
    // The 48-byte text of the display command, in lines of 16.
    display.history = [&unit] { return unit.DisplayHistory(); };
    display.lines = [&unit] { return demo::DisplayLines(unit.DisplayText()); };
  } else {
    driver = std::make_unique<sim::SimFireWireDriver>();
    const std::u16string name(model->name.begin(), model->name.end());
    auto fw =
        std::make_shared<sim::SimFireWireUpdater>(0x0001f20000000001ull, name, model->code, unit);
    driver->AddUnit(fw);
    // Two lines of 16 written through the display registers.
    display.history = [fw] { return fw->registers.DisplayHistory(); };
    display.lines = [fw] {
      return std::vector<std::string>{fw->registers.Line(0), fw->registers.Line(1)};
    };
  }

  Recorder recorder(out, unit, display);
  std::unique_ptr<Presser> presser;
  std::unique_ptr<platform::term::TerminalFront> front;
  if (options.script) {
    recorder.Line("{\"type\":\"start\",\"file\":" + demo::Json(Narrow(fileName.str())) +
                  ",\"model\":" + demo::Json(model->name) + ",\"bus\":\"" +
                  (model->bus == demo::Bus::Usb ? "usb" : "firewire") + "\"}");
    presser = std::make_unique<Presser>(recorder, options.wait);
  } else {
    platform::term::FrontOptions front_options;
    front_options.output = out;
    front_options.unicode = Utf8Terminal();
    front_options.footer = [model, display, unicode = front_options.unicode] {
      return Footer(*model, display, unicode);
    };
    front = std::make_unique<platform::term::TerminalFront>(std::move(front_options));
  }

  int result;
  if (model->bus == demo::Bus::Usb) {
    // The product's own start: the kind comes from the file name.
    (void)&theApp;
    result = AfxWinMain();
  } else {
    // The demo's seam to kind 0, in the steps of the application's start.
    CUpdaterDlg dlg(ProductKindFireWire, nullptr);
    theApp.m_pMainWnd = &dlg;
    dlg.DoModal();
    theApp.m_pMainWnd = nullptr;
    result = theApp.ExitInstance();
  }

  front.reset();
  if (presser) {
    recorder.Flush(true);
    if (presser->TimedOut()) result = 1;
    recorder.Line("{\"type\":\"exit\",\"code\":" + std::to_string(result) + "}");
    presser.reset();
  } else {
    WriteAll(out, "\n");
  }
  hid.reset();
  driver.reset();
  demo::SaveFlash(unit, flash);
  ::close(out);
  return result;
}
