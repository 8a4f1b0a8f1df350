// The terminal front: the dialogs drawn as text, keys turned into a user's
// keys. A dialog's client area maps to the grid at 4 pixels (2 dialog
// units) a column and 16 pixels (8 dialog units, one line of text) a row.
#include <platform/host/term_front.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cwctype>
#include <thread>

namespace platform::term {

namespace {

constexpr int kPixelsPerColumn = 4;
constexpr int kPixelsPerRow = 16;

std::u32string FromWide(const std::wstring& text) {
  std::u32string out;
  for (wchar_t c : text) out.push_back(static_cast<char32_t>(c));
  return out;
}

std::string Utf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// A label as shown: "&" marks the mnemonic and is not drawn ("&&" is one
// ampersand); a tab separates a menu item's accelerator text.
std::u32string Label(const std::wstring& text, char32_t* mnemonic = nullptr) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != L'&' && mnemonic != nullptr && *mnemonic == 0)
        *mnemonic = static_cast<char32_t>(text[i]);
    }
    out.push_back(text[i] == L'\t' ? U'\t' : static_cast<char32_t>(text[i]));
  }
  return out;
}

struct Glyphs {
  char32_t h, v, tl, tr, bl, br, lt, rt, full, empty;
};
constexpr Glyphs kUnicode{U'─', U'│', U'┌', U'┐', U'└', U'┘', U'├', U'┤', U'█', U'░'};
constexpr Glyphs kAscii{U'-', U'|', U'+', U'+', U'+', U'+', U'+', U'+', U'#', U'.'};

class Canvas {
 public:
  void Put(int row, int column, const std::u32string& text) {
    if (row < 0 || column < 0) return;
    if (static_cast<std::size_t>(row) >= rows_.size())
      rows_.resize(static_cast<std::size_t>(row) + 1);
    std::u32string& line = rows_[static_cast<std::size_t>(row)];
    const std::size_t end = static_cast<std::size_t>(column) + text.size();
    if (line.size() < end) line.resize(end, U' ');
    line.replace(static_cast<std::size_t>(column), text.size(), text);
  }
  void Fill(int row, int column, int width, char32_t c) {
    if (width > 0) Put(row, column, std::u32string(static_cast<std::size_t>(width), c));
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const auto& r : rows_) {
      std::u32string trimmed = r;
      while (!trimmed.empty() && trimmed.back() == U' ') trimmed.pop_back();
      out.push_back(Utf8(trimmed));
    }
    return out;
  }

 private:
  std::vector<std::u32string> rows_;
};

// The placement of one dialog on the grid: its box's corner and the scale
// of its columns (1 unless it had to be drawn narrower).
struct Placement {
  int row = 0;
  int column = 0;
  int columns = 0;  // inside the box
  int rows = 0;
  double scale = 1.0;
};

Placement Place(const ui::DialogState& d, int maxWidth) {
  Placement p;
  p.columns = std::max(1, static_cast<int>((d.client.right - d.client.left) / kPixelsPerColumn));
  p.rows = std::max(1, static_cast<int>((d.client.bottom - d.client.top) / kPixelsPerRow));
  if (maxWidth > 0 && p.columns + 2 > maxWidth) {
    p.scale = static_cast<double>(std::max(1, maxWidth - 2)) / p.columns;
    p.columns = std::max(1, maxWidth - 2);
  }
  return p;
}

void DrawBox(Canvas& canvas, const Placement& p, const std::u32string& caption, const Glyphs& g) {
  const int width = p.columns + 2;
  std::u32string top(static_cast<std::size_t>(width), g.h);
  top.front() = g.tl;
  top.back() = g.tr;
  if (!caption.empty() && width > 4) {
    std::u32string title = U" " + caption + U" ";
    title = title.substr(0, static_cast<std::size_t>(width - 3));
    top.replace(2, title.size(), title);
  }
  canvas.Put(p.row, p.column, top);
  for (int r = 1; r <= p.rows; ++r) {
    canvas.Put(p.row + r, p.column, std::u32string(1, g.v));
    canvas.Fill(p.row + r, p.column + 1, p.columns, U' ');
    canvas.Put(p.row + r, p.column + width - 1, std::u32string(1, g.v));
  }
  std::u32string bottom(static_cast<std::size_t>(width), g.h);
  bottom.front() = g.bl;
  bottom.back() = g.br;
  canvas.Put(p.row + p.rows + 1, p.column, bottom);
}

void DrawControl(Canvas& canvas, Frame& frame, const Placement& p, const ui::ControlState& c,
                 const Glyphs& g) {
  if (!c.visible) return;
  // Cells inside the box, rounded to the nearest row.
  int column = static_cast<int>((c.rect.left / kPixelsPerColumn) * p.scale);
  int width = static_cast<int>(((c.rect.right - c.rect.left) / kPixelsPerColumn) * p.scale);
  const int row = static_cast<int>((c.rect.top + kPixelsPerRow / 2) / kPixelsPerRow);
  const int height = std::max(
      1, static_cast<int>((c.rect.bottom - c.rect.top + kPixelsPerRow / 2) / kPixelsPerRow));
  column = std::clamp(column, 0, p.columns - 1);
  width = std::clamp(width, 1, p.columns - column);
  if (row >= p.rows) return;
  const int rows = std::min(height, p.rows - row);
  const int top = p.row + 1 + row;
  const int left = p.column + 1 + column;

  std::wstring cls = c.className;
  std::transform(cls.begin(), cls.end(), cls.begin(), ::towlower);
  if (cls == L"msctls_progress32") {
    const int inner = std::max(0, width - 2);
    long long span = static_cast<long long>(c.rangeHigh) - c.rangeLow;
    long long done =
        std::clamp<long long>(static_cast<long long>(c.pos) - c.rangeLow, 0, span > 0 ? span : 0);
    const int filled = span > 0 ? static_cast<int>(done * inner / span) : 0;
    std::u32string bar = U"[";
    bar += std::u32string(static_cast<std::size_t>(filled), g.full);
    bar += std::u32string(static_cast<std::size_t>(inner - filled), g.empty);
    bar += U"]";
    canvas.Put(top + (rows - 1) / 2, left, bar.substr(0, static_cast<std::size_t>(width)));
    return;
  }
  if (cls == L"button") {
    std::u32string label = U"[ " + Label(c.text) + U" ]";
    if (static_cast<int>(label.size()) > width)
      label = label.substr(0, static_cast<std::size_t>(width));
    const int at = left + (width - static_cast<int>(label.size())) / 2;
    const int r = top + (rows - 1) / 2;
    canvas.Put(r, at, label);
    if ((c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      frame.highlights.push_back({r, at, static_cast<int>(label.size())});
    }
    return;
  }
  // Static text (and anything else): its text laid out in its cells.
  const DWORD type = c.style & SS_TYPEMASK;
  const Align align = type == SS_CENTER  ? Align::Center
                      : type == SS_RIGHT ? Align::Right
                                         : Align::Left;
  const std::u32string text = (c.style & SS_NOPREFIX) ? FromWide(c.text) : Label(c.text);
  const auto lines = Wrap(text, static_cast<std::size_t>(width), align);
  for (int i = 0; i < rows && i < static_cast<int>(lines.size()); ++i) {
    const int free = width - static_cast<int>(lines[static_cast<std::size_t>(i)].size());
    int at = left;
    if (align == Align::Center)
      at += free / 2;
    else if (align == Align::Right)
      at += free;
    canvas.Put(top + i, at, lines[static_cast<std::size_t>(i)]);
  }
}

// The button Enter presses in the dialog: its default push button, while
// it is shown and enabled.
const ui::ControlState* DefaultButton(const ui::DialogState& d) {
  for (const auto& c : d.controls) {
    if (c.visible && c.enabled && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
        c.className == L"Button")
      return &c;
  }
  return nullptr;
}

void DrawMenu(Canvas& canvas, Frame& frame, const Placement& owner, const RenderOptions& options,
              const Glyphs& g) {
  std::vector<std::u32string> labels;
  std::size_t width = 0;
  for (const auto& item : options.menu) {
    std::u32string label = Label(item.text);
    if (auto tab = label.find(U'\t'); tab != std::u32string::npos) {
      label = label.substr(0, tab) + U"   " + label.substr(tab + 1);
    }
    width = std::max(width, label.size());
    labels.push_back(item.separator() ? std::u32string() : label);
  }
  const int inner = static_cast<int>(width) + 2;
  const int row = owner.row + 1;
  const int column = owner.column + 1;
  std::u32string edge(static_cast<std::size_t>(inner), g.h);
  canvas.Put(row, column, std::u32string(1, g.tl) + edge + std::u32string(1, g.tr));
  for (std::size_t i = 0; i < options.menu.size(); ++i) {
    const int r = row + 1 + static_cast<int>(i);
    if (options.menu[i].separator()) {
      canvas.Put(r, column, std::u32string(1, g.lt) + edge + std::u32string(1, g.rt));
      continue;
    }
    std::u32string cell = U" " + labels[i];
    cell.resize(static_cast<std::size_t>(inner), U' ');
    canvas.Put(r, column, std::u32string(1, g.v) + cell + std::u32string(1, g.v));
    if (static_cast<int>(i) == options.menuSelection)
      frame.highlights.push_back({r, column + 1, inner});
  }
  canvas.Put(row + 1 + static_cast<int>(options.menu.size()), column,
             std::u32string(1, g.bl) + edge + std::u32string(1, g.br));
}

}  // namespace

std::string Frame::Text() const {
  std::string out;
  for (const auto& r : rows) {
    out += r;
    out += '\n';
  }
  return out;
}

std::vector<std::u32string> Wrap(const std::u32string& text, std::size_t width, Align align) {
  std::vector<std::u32string> lines;
  if (width == 0 || text.empty()) return lines;
  const auto lineFeed = [](char32_t c) { return c == U'\r' || c == U'\n'; };
  const std::size_t n = text.size();
  // Where the text goes on after the line break at `feed`: "\r\n" (or
  // "\n\r") is one break, "\n\n" two.
  const auto afterBreak = [&](std::size_t feed) {
    std::size_t next = feed + 1;
    if (next < n && lineFeed(text[next]) && text[next] != text[feed]) ++next;
    return next;
  };
  std::size_t pos = 0;
  for (;;) {
    std::size_t end = pos;
    while (end < n && !lineFeed(text[end])) ++end;
    if (end - pos > width) {
      // Too long: the line ends after the last blank within the width, or
      // at the width when a blank follows there (a word longer than the
      // width is cut at it). A centred or right-aligned line gives up a
      // blank that ends it, so it lines up on its words. One blank goes with
      // the break; any more start the next line.
      std::size_t length = width;
      if (text[pos + width] != U' ') {
        std::size_t after = pos + width;
        while (after > pos && text[after - 1] != U' ') --after;
        if (after > pos) length = after - pos;
      }
      if (align != Align::Left && text[pos + length - 1] == U' ') --length;
      lines.push_back(text.substr(pos, length));
      pos += length;
      if (text[pos] == U' ') ++pos;
      // A line feed right after the break ends this same line.
      if (pos < n && lineFeed(text[pos])) pos = afterBreak(pos);
      if (pos >= n) break;
      continue;
    }
    lines.push_back(text.substr(pos, end - pos));
    if (end >= n) break;
    pos = afterBreak(end);
    if (pos >= n) break;
  }
  return lines;
}

Frame Render(const std::vector<ui::DialogState>& dialogs, const RenderOptions& options) {
  Frame frame;
  Canvas canvas;
  const Glyphs& g = options.unicode ? kUnicode : kAscii;
  Placement first;
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    const ui::DialogState& d = dialogs[i];
    Placement p = Place(d, options.maxWidth);
    if (i == 0) {
      first = p;
    } else {
      // Centred over the outermost dialog, below its caption.
      p.column = std::max(0, first.column + (first.columns - p.columns) / 2);
      p.row = std::max(first.row + 1, first.row + (first.rows - p.rows) / 2);
    }
    if (!d.visible) continue;
    DrawBox(canvas, p, FromWide(d.caption), g);
    for (const auto& c : d.controls) DrawControl(canvas, frame, p, c, g);
    if (options.menuOwner != nullptr && options.menuOwner == d.hwnd) {
      // The menu covers what lies under it, the default button's mark too.
      frame.highlights.erase(std::remove_if(frame.highlights.begin(), frame.highlights.end(),
                                            [&](const Frame::Span& s) { return s.row > p.row; }),
                             frame.highlights.end());
      DrawMenu(canvas, frame, p, options, g);
    }
  }
  frame.rows = canvas.Rows();
  // Enter is offered only where it does something: not in the menu, and
  // not while the innermost dialog's default button is hidden.
  frame.keys = " ";
  const ui::ControlState* button =
      dialogs.empty() || options.menuOwner != nullptr ? nullptr : DefaultButton(dialogs.back());
  if (button != nullptr) frame.keys += "Enter: " + Utf8(Label(button->text)) + "    ";
  frame.keys += "Esc: close    F10 or Alt+Space: system menu";
  return frame;
}

// ---------------------------------------------------------------------------

struct TerminalFront::State {
  FrontOptions options;
  std::thread::id uiThread = std::this_thread::get_id();
  bool raw = false;
  termios saved{};
  ui::IdleHook previousIdle;
  ui::ChangeHook previousChange;
  std::atomic<bool> dirty{true};
  std::atomic<bool> alive{true};
  bool drawing = false;
  std::chrono::steady_clock::time_point lastDraw{};
  std::string lastOutput;
  Frame frame;

  std::string input;
  std::chrono::steady_clock::time_point lastByte{};

  bool menuOpen = false;
  HWND menuOwner = nullptr;
  std::vector<ui::MenuItem> menu;
  int selection = 0;

  std::vector<ui::DialogState> Dialogs() const {
    std::vector<ui::DialogState> out;
    std::vector<HWND> stack = ui::ModalStack();
    if (stack.empty()) {
      if (HWND top = ui::TopDialog()) stack.push_back(top);
    }
    for (HWND h : stack) {
      if (auto d = ui::Inspect(h)) out.push_back(std::move(*d));
    }
    return out;
  }

  HWND Innermost() const {
    std::vector<HWND> stack = ui::ModalStack();
    return stack.empty() ? ui::TopDialog() : stack.back();
  }

  int Width() const {
    winsize size{};
    if (::ioctl(options.output, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
  }

  void Write(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(options.output, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{options.output, POLLOUT, 0};
        ::poll(&p, 1, 100);
      } else {
        return;
      }
    }
  }

  void Draw() {
    if (drawing) return;
    drawing = true;
    dirty = false;
    lastDraw = std::chrono::steady_clock::now();
    const auto dialogs = Dialogs();
    if (menuOpen && std::none_of(dialogs.begin(), dialogs.end(),
                                 [&](const ui::DialogState& d) { return d.hwnd == menuOwner; })) {
      menuOpen = false;
    }
    RenderOptions render;
    render.unicode = options.unicode;
    render.maxWidth = Width();
    if (menuOpen) {
      render.menuOwner = menuOwner;
      render.menu = menu;
      render.menuSelection = selection;
    }
    frame = Render(dialogs, render);

    std::string out = "\x1b[H";
    for (std::size_t r = 0; r < frame.rows.size(); ++r) {
      out += Highlighted(frame.rows[r], static_cast<int>(r));
      out += "\x1b[K\r\n";
    }
    if (options.footer) {
      for (const auto& line : options.footer()) {
        out += line;
        out += "\x1b[K\r\n";
      }
    }
    out += "\x1b[K\r\n" + frame.keys + "\x1b[K\r\n";
    out += "\x1b[J";
    if (out != lastOutput) {
      Write(out);
      lastOutput = std::move(out);
    }
    drawing = false;
  }

  // The row with its highlighted spans in reverse video.
  std::string Highlighted(const std::string& row, int index) const {
    std::vector<Frame::Span> spans;
    for (const auto& s : frame.highlights)
      if (s.row == index) spans.push_back(s);
    if (spans.empty()) return row;
    std::sort(spans.begin(), spans.end(),
              [](const auto& a, const auto& b) { return a.column < b.column; });
    // Columns count characters; walk the UTF-8 by lead bytes.
    std::string out;
    int column = 0;
    std::size_t next = 0;
    bool on = false;
    for (std::size_t i = 0; i <= row.size(); ++i) {
      const bool lead = i == row.size() || (static_cast<unsigned char>(row[i]) & 0xC0) != 0x80;
      if (lead) {
        if (on && column == spans[next].column + spans[next].width) {
          out += "\x1b[27m";
          on = false;
          ++next;
        }
        if (!on && next < spans.size() && column == spans[next].column) {
          out += "\x1b[7m";
          on = true;
        }
        if (i == row.size()) break;
        ++column;
      }
      out += row[i];
    }
    if (on) out += "\x1b[27m";
    return out;
  }

  void Changed(HWND) {
    dirty = true;
    if (std::this_thread::get_id() != uiThread) return;
    if (std::chrono::steady_clock::now() - lastDraw >= options.minInterval) Draw();
  }

  void Idle() {
    ReadInput();
    if (dirty) Draw();
  }

  // ---- keys

  void ReadInput() {
    for (;;) {
      pollfd p{options.input, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
      char buffer[256];
      const ssize_t n = ::read(options.input, buffer, sizeof buffer);
      if (n <= 0) break;
      input.append(buffer, static_cast<std::size_t>(n));
      lastByte = std::chrono::steady_clock::now();
    }
    ParseInput();
  }

  void ParseInput() {
    // A lone Esc is a key once nothing has followed it for a moment; with
    // more bytes it starts a sequence.
    const bool settled =
        std::chrono::steady_clock::now() - lastByte > std::chrono::milliseconds(40);
    while (!input.empty()) {
      const unsigned char c = static_cast<unsigned char>(input[0]);
      if (c == 0x1B) {
        if (input.size() == 1) {
          if (!settled) return;
          input.erase(0, 1);
          Escape();
          continue;
        }
        const char second = input[1];
        if (second == '[' || second == 'O') {
          std::size_t end = 2;
          while (end < input.size() && !(input[end] >= 0x40 && input[end] <= 0x7E)) ++end;
          if (end >= input.size()) {
            if (!settled) return;
            input.clear();
            return;
          }
          const std::string sequence = input.substr(1, end);
          input.erase(0, end + 1);
          Sequence(sequence);
          continue;
        }
        input.erase(0, 2);
        if (second == ' ')
          OpenMenu();  // Alt+Space
        else if (second == 0x1B)
          input.insert(0, 1, '\x1b');
        continue;
      }
      input.erase(0, 1);
      if (c == '\r' || c == '\n')
        Enter();
      else if (c == 0x03)
        Escape();  // Ctrl+C
      else if (menuOpen && c >= 0x20 && c < 0x7F)
        Mnemonic(static_cast<char32_t>(c));
    }
  }

  void Sequence(const std::string& sequence) {
    if (sequence == "[21~") {
      if (menuOpen)
        CloseMenu();
      else
        OpenMenu();
    } else if (menuOpen && (sequence == "[A" || sequence == "OA")) {
      Move(-1);
    } else if (menuOpen && (sequence == "[B" || sequence == "OB")) {
      Move(1);
    }
  }

  bool Selectable(int i) const {
    const auto& item = menu[static_cast<std::size_t>(i)];
    return !item.separator() && !(item.flags & (MF_GRAYED | MF_DISABLED));
  }

  void OpenMenu() {
    HWND top = Innermost();
    auto state = top ? ui::Inspect(top) : std::nullopt;
    if (!state || !(state->style & WS_SYSMENU)) return;
    menu = ui::SystemMenu(top);
    if (menu.empty()) return;
    menuOwner = top;
    menuOpen = true;
    selection = -1;
    Move(1);
    Draw();
  }

  void CloseMenu() {
    menuOpen = false;
    Draw();
  }

  void Move(int step) {
    const int n = static_cast<int>(menu.size());
    for (int k = 0, i = selection; k < n; ++k) {
      i = ((i + step) % n + n) % n;
      if (Selectable(i)) {
        selection = i;
        break;
      }
    }
    if (menuOpen) Draw();
  }

  void Choose(int i) {
    const UINT id = static_cast<UINT>(menu[static_cast<std::size_t>(i)].id);
    HWND owner = menuOwner;
    menuOpen = false;
    ui::ChooseSystemMenuItem(owner, id);
    Draw();
  }

  void Mnemonic(char32_t key) {
    for (int i = 0; i < static_cast<int>(menu.size()); ++i) {
      char32_t m = 0;
      Label(menu[static_cast<std::size_t>(i)].text, &m);
      if (m != 0 && Selectable(i) &&
          std::towlower(static_cast<wint_t>(m)) == std::towlower(static_cast<wint_t>(key))) {
        Choose(i);
        return;
      }
    }
  }

  void Enter() {
    if (menuOpen) {
      if (selection >= 0) Choose(selection);
      return;
    }
    HWND top = Innermost();
    auto state = top ? ui::Inspect(top) : std::nullopt;
    if (!state) return;
    if (DefaultButton(*state) != nullptr) ui::PressEnter(top);
  }

  void Escape() {
    if (menuOpen) {
      CloseMenu();
      return;
    }
    if (HWND top = Innermost()) ui::PressEscape(top);
  }
};

TerminalFront::TerminalFront(FrontOptions options) : state_(std::make_shared<State>()) {
  State& s = *state_;
  s.options = std::move(options);
  if (::isatty(s.options.input) && ::tcgetattr(s.options.input, &s.saved) == 0) {
    termios raw = s.saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON | BRKINT | ISTRIP | INPCK);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    s.raw = ::tcsetattr(s.options.input, TCSAFLUSH, &raw) == 0;
  }
  s.Write("\x1b[?25l\x1b[2J\x1b[H");
  // A hook may run the call that destroys the front (a script step, a key
  // that ends the dialog): it holds the state while it runs and does
  // nothing of its own once the front is gone.
  std::weak_ptr<State> weak = state_;
  s.previousChange = ui::SetChangeHook([weak](HWND w) {
    auto state = weak.lock();
    if (!state) return;
    if (auto previous = state->previousChange) previous(w);
    if (state->alive) state->Changed(w);
  });
  s.previousIdle = ui::SetIdleHook([weak] {
    auto state = weak.lock();
    if (!state) return;
    if (auto previous = state->previousIdle) previous();
    if (state->alive) state->Idle();
  });
}

TerminalFront::~TerminalFront() {
  State& s = *state_;
  s.alive = false;
  ui::SetIdleHook(s.previousIdle);
  ui::SetChangeHook(s.previousChange);
  // The last picture stays on the screen, the cursor under it.
  s.Write("\x1b[?25h");
  if (s.raw) ::tcsetattr(s.options.input, TCSAFLUSH, &s.saved);
}

void TerminalFront::Redraw() { state_->Draw(); }

const Frame& TerminalFront::LastFrame() const { return state_->frame; }

bool TerminalFront::MenuOpen() const { return state_->menuOpen; }

}  // namespace platform::term
