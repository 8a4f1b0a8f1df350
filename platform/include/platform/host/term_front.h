// Host only: a terminal front for the window services. It draws the
// dialogs of the UI thread as they stand (the innermost modal one over the
// ones below it) with ANSI escapes, and turns keys into what a user's keys
// would do in a dialog:
//
//   Enter              presses the default button, when it is visible
//   Esc                closes the innermost dialog (Cancel)
//   F10 or Alt+Space   opens the system menu; there Up/Down and Enter, the
//                      item's underlined letter, or Esc
//   Ctrl+C             closes every dialog, innermost first
//
// A line under the dialogs names these keys. It redraws whenever the
// dialogs change (the window services' change hook) and reads the keys on
// the message loop's idle turns. While the UI thread is busy (an update
// runs inside a button's handler) keys wait, as they would on Windows, and
// drawing goes on with every change.
#pragma once

#include <platform/host/ui_driver.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::term {

// A character grid of the dialogs as the front draws them; one entry per
// terminal row, in UTF-8, without escapes.
struct Frame {
  std::vector<std::string> rows;
  // Cells drawn in reverse video: the default button, the selected menu
  // item. Columns count characters.
  struct Span {
    int row;
    int column;
    int width;
  };
  std::vector<Span> highlights;
  // The keys the front offers, the line it draws last: Enter, named by the
  // default button it presses, only while that button is shown.
  std::string keys;
  std::string Text() const;  // rows joined with line feeds
};

struct RenderOptions {
  bool unicode = true;  // box-drawing and block characters; else plain ASCII
  // A dialog wider than this many columns is drawn narrower (0: no limit).
  int maxWidth = 0;
  // The system menu drawn open over this dialog, with this item selected.
  HWND menuOwner = nullptr;
  std::vector<ui::MenuItem> menu;
  int menuSelection = 0;
};

// The dialogs, outermost first (the front passes the modal stack); each
// nested one is drawn centred over the first.
Frame Render(const std::vector<ui::DialogState>& dialogs, const RenderOptions& options = {});

// How a static control lines up its text.
enum class Align { Left, Center, Right };

// The text laid out in lines of at most `width` characters as a static
// control with word breaks lays it out: a line breaks at a line feed ("\n",
// "\r\n") and at a blank where the next word would pass the width; a word
// longer than the width is cut at it. Blanks inside a line stay as they are.
std::vector<std::u32string> Wrap(const std::u32string& text, std::size_t width,
                                 Align align = Align::Left);

struct FrontOptions {
  int input = 0;  // raw mode is set on it when it is a terminal
  int output = 1;
  bool unicode = true;
  // Lines drawn below the dialogs, above the keys (the demo shows the
  // unit's display there).
  std::function<std::vector<std::string>()> footer;
  // Redraws closer together than this are left to the next idle turn.
  std::chrono::milliseconds minInterval{15};
};

// Installs itself as the change and idle hook while it lives (calling the
// hooks it replaced too) and restores the terminal when destroyed. Made and
// destroyed on the UI thread.
class TerminalFront {
 public:
  explicit TerminalFront(FrontOptions options);
  ~TerminalFront();
  TerminalFront(const TerminalFront&) = delete;
  TerminalFront& operator=(const TerminalFront&) = delete;

  // Draws now, whatever the interval.
  void Redraw();
  // The frame last drawn.
  const Frame& LastFrame() const;
  bool MenuOpen() const;

 private:
  struct State;
  // Shared with the hooks, which may outlive the front by the call that
  // destroys it.
  std::shared_ptr<State> state_;
};

}  // namespace platform::term
