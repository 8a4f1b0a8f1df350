// The terminal front over the updater's own dialogs: what it draws, and
// what the keys it reads do to them.
#include <app/UpdaterDlg.h>
#include <platform/host/term_front.h>
#include <platform/host/ui_driver.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "../app/fake_device.h"

namespace {

using namespace platform::ui;
using platform::term::Frame;
using platform::term::FrontOptions;
using platform::term::Render;
using platform::term::TerminalFront;
using platform::term::Wrap;

constexpr const wchar_t* kCaption = L"VARN Firmware Updater";
constexpr const wchar_t* kAboutCaption = L"About Updater";

std::u32string U32(const std::string& s) { return std::u32string(s.begin(), s.end()); }

TEST(TerminalWrap, LaysOutLinesAsAStaticControlDoes) {
  using enum platform::term::Align;
  struct Case {
    std::string text;
    std::size_t width;
    platform::term::Align align;
    std::vector<std::string> lines;
  } cases[] = {
      {"", 10, Left, {}},
      {"short", 10, Left, {"short"}},
      {"exactly nine", 12, Left, {"exactly nine"}},
      {"a\nb c\n\nd\n", 10, Left, {"a", "b c", "", "d"}},
      {"a\r\nb\rc\n\rd", 10, Left, {"a", "b", "c", "d"}},
      // Blanks inside a line are kept, at its ends too when it fits.
      {"  spaced   out  ", 20, Left, {"  spaced   out  "}},
      {"File version:  2.05", 20, Center, {"File version:  2.05"}},
      // A left-aligned line keeps the blank it breaks at (unseen); a centred
      // or right-aligned one leaves it out, or it would stand off centre.
      {"one two three", 9, Left, {"one two ", "three"}},
      {"one two three", 9, Center, {"one two", "three"}},
      {"one two three", 9, Right, {"one two", "three"}},
      {"one two three four", 9, Center, {"one two", "three", "four"}},
      {"File version: ", 13, Left, {"File version:"}},
      // One blank goes with a break; the next line starts with any more.
      {"end.  Next", 5, Left, {"end. ", "Next"}},
      {"end.  Next", 5, Center, {"end.", " Next"}},
      {"end.   Next", 5, Left, {"end. ", " Next"}},
      // A line feed right after a break makes no empty line.
      {"abcd  \nx", 5, Left, {"abcd ", "x"}},
      {"abcd \r\nx", 4, Left, {"abcd", "x"}},
      // A word longer than the width is cut at it.
      {"abcdefghijkl", 5, Left, {"abcde", "fghij", "kl"}},
      {"ab cdefghij", 5, Left, {"ab ", "cdefg", "hij"}},
      {"Comparing firmware...\nThe updater program is comparing the device's firmware to the new "
       "firmware.\nFile version:  2.05",
       68,
       Center,
       {"Comparing firmware...",
        "The updater program is comparing the device's firmware to the new", "firmware.",
        "File version:  2.05"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const auto& line : Wrap(U32(c.text), c.width, c.align))
      got.emplace_back(line.begin(), line.end());
    EXPECT_EQ(got, c.lines) << c.text << " in " << c.width;
  }
}

// A pipe for the keys and a file for the escapes the front writes.
struct Terminal {
  int keys[2] = {-1, -1};
  std::FILE* screen = std::tmpfile();
  Terminal() { EXPECT_EQ(::pipe(keys), 0); }
  ~Terminal() {
    ::close(keys[0]);
    ::close(keys[1]);
    std::fclose(screen);
  }
  FrontOptions Options(bool unicode = false) {
    FrontOptions o;
    o.input = keys[0];
    o.output = ::fileno(screen);
    o.unicode = unicode;
    return o;
  }
  void Type(const std::string& bytes) {
    ASSERT_EQ(::write(keys[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string Written() {
    std::fflush(screen);
    std::string out;
    std::rewind(screen);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, screen)) > 0;)
      out.append(buffer, n);
    return out;
  }
};

bool Has(const Frame& frame, const std::string& text) {
  return frame.Text().find(text) != std::string::npos;
}

// The row holding the text, or -1.
int RowOf(const Frame& frame, const std::string& text) {
  for (std::size_t i = 0; i < frame.rows.size(); ++i)
    if (frame.rows[i].find(text) != std::string::npos) return static_cast<int>(i);
  return -1;
}

TEST(TerminalFront, DrawsTheDialogAsItStands) {
  Terminal terminal;
  CUpdaterDlg dlg(ProductKindPlimo, nullptr);
  Frame shown, afterChange;
  Script script;
  std::unique_ptr<TerminalFront> front;
  script.WaitForDialog(kCaption)
      .Do([&] {
        front = std::make_unique<TerminalFront>(terminal.Options());
        dlg.m_status = UpdateStatusNotDetected;
        dlg.m_percent = 50;
        static_cast<UpdaterDlgClient&>(dlg).RefreshStatus();
        // Shown whatever the first poll found, to see it drawn.
        dlg.m_updateButton.ShowWindow(SW_SHOW);
        dlg.m_recordProgress.ShowWindow(SW_HIDE);
      })
      .Do([&] {
        front->Redraw();
        shown = front->LastFrame();
        dlg.m_updateButton.ShowWindow(SW_HIDE);
        dlg.m_status = UpdateStatusReady;
        dlg.m_percent = 100;
        static_cast<UpdaterDlgClient&>(dlg).RefreshStatus();
      })
      .Do([&] {
        // Drawn again by the change alone.
        afterChange = front->LastFrame();
        front.reset();
        PressEscape(TopDialog());
      });
  dlg.DoModal();
  ASSERT_TRUE(script.Finished());

  // The caption in the top edge, the box 75 columns inside.
  ASSERT_FALSE(shown.rows.empty());
  EXPECT_EQ(shown.rows[0].rfind("+- VARN Firmware Updater -", 0), 0u) << shown.Text();
  EXPECT_EQ(shown.rows[0].size(), 77u);
  // The status text in lines of at most the control's 68 columns, each
  // centred in them.
  const int first = RowOf(shown, "The device is not detected.");
  ASSERT_GT(first, 0) << shown.Text();
  const std::string expected =
      "The device is not detected. Confirm that it is connected to the computer by USB. Press and "
      "hold the Value knob, and then turn it on to switch it to the firmware update mode.";
  std::string joined;
  for (int r = first; r < first + 3; ++r) {
    std::string line = shown.rows[static_cast<std::size_t>(r)].substr(1);
    const std::size_t begin = line.find_first_not_of(' ');
    const std::size_t end = line.find_last_not_of(" |");
    const std::size_t left = begin - 3;            // the control starts at column 3
    const std::size_t right = 3 + 68 - (end + 1);  // and is 68 columns wide
    EXPECT_LE(left > right ? left - right : right - left, 1u) << line;
    EXPECT_LE(end + 1 - begin, 68u);
    joined += (joined.empty() ? "" : " ") + line.substr(begin, end + 1 - begin);
  }
  EXPECT_EQ(joined, expected);
  // The record bar hidden, the overall bar half full, its label, the button.
  EXPECT_TRUE(Has(shown, "Overall Update Progress"));
  const int bar = RowOf(shown, "[###");
  ASSERT_GT(bar, 0) << shown.Text();
  EXPECT_EQ(bar, RowOf(shown, "Overall Update Progress") + 1);
  const std::string& barRow = shown.rows[static_cast<std::size_t>(bar)];
  const auto filled = std::count(barRow.begin(), barRow.end(), '#');
  const auto empty = std::count(barRow.begin(), barRow.end(), '.');
  EXPECT_EQ(filled + empty, 66);
  EXPECT_EQ(filled, 33);
  const std::string text = shown.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '['), 2);  // one bar, one button
  ASSERT_TRUE(Has(shown, "[ Update Now ]"));
  // The default button marked for reverse video.
  ASSERT_EQ(shown.highlights.size(), 1u);
  EXPECT_EQ(shown.highlights[0].row, RowOf(shown, "[ Update Now ]"));
  EXPECT_EQ(shown.highlights[0].width, 14);

  EXPECT_TRUE(
      Has(afterChange, "Click the Update Now button to begin updating the device's firmware."))
      << afterChange.Text();
  EXPECT_FALSE(Has(afterChange, "Update Now ]"));
  EXPECT_TRUE(afterChange.highlights.empty());
  EXPECT_TRUE(Has(afterChange, "[" + std::string(66, '#') + "]"));

  // What reached the terminal: the cursor homed, rows cleared to their end,
  // the default button in reverse video, the cursor given back at the end.
  const std::string written = terminal.Written();
  EXPECT_NE(written.find("\x1b[H"), std::string::npos);
  EXPECT_NE(written.find("\x1b[7m[ Update Now ]\x1b[27m"), std::string::npos);
  EXPECT_EQ(written.rfind("\x1b[?25h"), written.size() - 6);
}

TEST(TerminalFront, StatusTextKeepsItsBlanks) {
  // A one-digit major version comes with a blank of its own.
  Terminal terminal;
  CUpdaterDlg dlg(ProductKindPlimo, nullptr);
  Frame shown;
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    TerminalFront front(terminal.Options());
    auto device = std::make_unique<FakeDevice>();
    device->versionText = L" 2.05";
    dlg.m_device = std::move(device);
    dlg.m_status = UpdateStatusComparing;
    static_cast<UpdaterDlgClient&>(dlg).RefreshStatus();
    front.Redraw();
    shown = front.LastFrame();
    PressEscape(TopDialog());
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_TRUE(script.Finished());

  const int version = RowOf(shown, "File version:  2.05");
  ASSERT_GT(version, 0) << shown.Text();
  EXPECT_EQ(RowOf(shown, "Comparing firmware..."), version - 3) << shown.Text();
  EXPECT_EQ(RowOf(shown, "firmware to the new"), version - 2);
  // Centred in the control's 68 columns, which start 3 inside the box.
  EXPECT_EQ(shown.rows[static_cast<std::size_t>(version)].find("File"), 1u + 3 + (68 - 19) / 2);
}

TEST(TerminalFront, OffersEnterOnlyWhileTheButtonIsShown) {
  Terminal terminal;
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  std::string shown, hidden;
  Script script;
  std::unique_ptr<TerminalFront> front;
  script.WaitForDialog(kCaption)
      .Do([&] {
        front = std::make_unique<TerminalFront>(terminal.Options());
        dlg.m_updateButton.ShowWindow(SW_SHOW);
        front->Redraw();
        shown = front->LastFrame().keys;
        // The dialog hides the button itself for this code.
        dlg.m_status = UpdateStatusNotInUpdateMode;
        static_cast<UpdaterDlgClient&>(dlg).RefreshStatus();
      })
      .WaitFor([&] { return !Has(front->LastFrame(), "Update Now ]"); })
      .Do([&] {
        hidden = front->LastFrame().keys;
        front.reset();
        PressEscape(TopDialog());
      });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_TRUE(script.Finished());

  EXPECT_EQ(shown, " Enter: Update Now    Esc: close    F10 or Alt+Space: system menu");
  EXPECT_EQ(hidden, " Esc: close    F10 or Alt+Space: system menu");
  // Drawn under the dialog, after a blank line.
  const std::string written = terminal.Written();
  EXPECT_NE(written.find("\x1b[K\r\n\x1b[K\r\n" + shown + "\x1b[K\r\n"), std::string::npos);
  EXPECT_NE(written.find("\x1b[K\r\n\x1b[K\r\n" + hidden + "\x1b[K\r\n"), std::string::npos);
}

TEST(TerminalFront, EscClosesTheDialog) {
  Terminal terminal;
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  Script script;
  std::unique_ptr<TerminalFront> front;
  script.WaitForDialog(kCaption).Do([&] {
    front = std::make_unique<TerminalFront>(terminal.Options());
    terminal.Type("\x1b");
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(script.Finished());
  front.reset();
}

TEST(TerminalFront, SystemMenuOpensTheAboutBox) {
  // F10 and Alt+Space open the menu; the item is chosen with the arrows and
  // Enter, or with its letter.
  struct Case {
    const char* open;
    const char* choose;
  } cases[] = {
      {"\x1b[21~", "\x1b[A\r"},  // up from the first item wraps to the last, the about item
      {"\x1b ", "a"},
  };
  for (const Case& c : cases) {
    Terminal terminal;
    CUpdaterDlg dlg(ProductKindDunmi, nullptr);
    Frame menu, about, back;
    Script script;
    std::unique_ptr<TerminalFront> front;
    script.WaitForDialog(kCaption)
        .Do([&] {
          front = std::make_unique<TerminalFront>(terminal.Options());
          terminal.Type(c.open);
        })
        .WaitFor([&] { return front->MenuOpen(); })
        .Do([&] {
          menu = front->LastFrame();
          terminal.Type(c.choose);
        })
        .WaitForDialog(kAboutCaption)
        .WaitFor([&] { return Has(front->LastFrame(), "About Updater"); })
        .Do([&] {
          about = front->LastFrame();
          terminal.Type("\r");  // OK, the about box's default button
        })
        .WaitFor([&] { return ModalStack().size() == 1; })
        .WaitFor([&] { return !Has(front->LastFrame(), "About Updater"); })
        .Do([&] {
          back = front->LastFrame();
          terminal.Type("\x1b");
        });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << c.open;
    ASSERT_TRUE(script.Finished()) << c.open;
    front.reset();

    EXPECT_TRUE(Has(menu, "| About Updater...")) << menu.Text();
    EXPECT_TRUE(Has(menu, "Close   Alt+F4"));
    ASSERT_EQ(menu.highlights.size(), 1u);
    EXPECT_EQ(menu.highlights[0].row, RowOf(menu, "| Move"))
        << c.open;  // the first item, as on Windows
    // The about box over the dialog, its OK the default button.
    EXPECT_TRUE(Has(about, "VARN Updater")) << about.Text();
    EXPECT_TRUE(Has(about, "[ OK ]"));
    EXPECT_TRUE(Has(about, "VARN Firmware Updater"));
    // Enter names what it presses: nothing while the menu is open, then OK.
    EXPECT_EQ(menu.keys.find("Enter"), std::string::npos) << menu.keys;
    EXPECT_EQ(about.keys.rfind(" Enter: OK    Esc: close", 0), 0u) << about.keys;
    EXPECT_TRUE(Has(back, "Overall Update Progress"));
    EXPECT_FALSE(Has(back, "About Updater..."));
  }
}

TEST(TerminalFront, EnterOnlyWhileTheDefaultButtonIsShown) {
  Terminal terminal;
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  Script script;
  std::unique_ptr<TerminalFront> front;
  auto turns = [](int n) { return [n]() mutable { return --n < 0; }; };
  bool menuClosed = false;
  bool aboutStayed = false;
  script.WaitForDialog(kCaption)
      .Do([&] {
        front = std::make_unique<TerminalFront>(terminal.Options());
        // Esc in the menu closes only the menu.
        terminal.Type("\x1b[21~");
      })
      .WaitFor([&] { return front->MenuOpen(); })
      .Do([&] { terminal.Type("\x1b"); })
      .WaitFor([&] { return !front->MenuOpen(); })
      .WaitFor(turns(5))
      .Do([&] {
        menuClosed = ModalStack().size() == 1;
        ChooseSystemMenuItem(TopDialog(), IDM_ABOUTBOX);
      })
      .WaitForDialog(kAboutCaption)
      .Do([&] {
        // The about box's OK hidden: Enter does nothing.
        ::ShowWindow(::GetDlgItem(TopDialog(), IDOK), SW_HIDE);
        terminal.Type("\r");
      })
      .WaitFor(turns(5))
      .Do([&] {
        aboutStayed = ModalStack().size() == 2;
        terminal.Type("\x03");  // Ctrl+C: as Esc, the innermost first
      })
      .WaitFor([&] { return ModalStack().size() == 1; })
      .Do([&] { terminal.Type("\x03"); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(menuClosed);
  EXPECT_TRUE(aboutStayed);
  front.reset();
}

}  // namespace
