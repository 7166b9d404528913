// Graphics: device contexts handed out by BeginPaint, pens, stock objects, and the drawing
// calls, which become the draw operations of the paint they happen in.
#include "sim/state.h"

#include <algorithm>

namespace sim::detail {
namespace {

// GetStockObject indexes: brushes first, then pens.
constexpr int kWhiteBrush = 0;
constexpr int kLastBrush = 5;   // NULL_BRUSH
constexpr int kWhitePen = 6;
constexpr int kBlackPen = 7;
constexpr int kNullPen = 8;
constexpr int kPsNull = 5;
// Text is measured in Windows CE's default font: the system font of a usual Windows CE 4.2
// build, Tahoma with characters 12 pixels high, regular weight (15 pixels a line, ascent and
// descent). The advance widths below are those of Tahoma's metric-compatible free version
// in Debian's fonts-wine (tahoma.ttf, 2048 units per em), scaled to 12 pixels and rounded
// for each character; a line's width is their sum, as GDI's is without kerning. Characters
// outside ASCII and Latin-1 count as wide as a digit. A device built with a bold or larger
// system font draws wider text than this.
constexpr int kLineHeight = sim::kTextLineHeight;
constexpr int kOtherCharWidth = 7;
constexpr unsigned char kAsciiWidths[] = {
    4, 4, 5, 9, 7, 12, 8, 3, 5, 5, 7, 9, 4, 4, 4, 5,  // U+0020
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 4, 4, 9, 9, 9, 6,  // U+0030
    11, 7, 7, 7, 8, 7, 6, 8, 8, 4, 5, 7, 6, 9, 8, 8,  // U+0040
    7, 8, 7, 7, 7, 8, 7, 11, 7, 7, 7, 5, 5, 5, 9, 7,  // U+0050
    7, 6, 7, 6, 7, 6, 4, 7, 7, 3, 3, 6, 3, 10, 7, 7,  // U+0060
    7, 7, 4, 5, 4, 7, 6, 9, 6, 6, 5, 6, 5, 6, 9,  // U+0070
};
constexpr unsigned char kLatin1Widths[] = {
    4, 4, 7, 7, 7, 7, 5, 7, 7, 11, 6, 7, 9, 4, 11, 7,  // U+00A0
    6, 9, 6, 6, 7, 7, 7, 4, 7, 6, 6, 7, 12, 12, 12, 6,  // U+00B0
    7, 7, 7, 7, 7, 7, 11, 7, 7, 7, 7, 7, 4, 4, 4, 4,  // U+00C0
    8, 8, 8, 8, 8, 8, 8, 9, 8, 8, 8, 8, 8, 7, 7, 7,  // U+00D0
    6, 6, 6, 6, 6, 6, 11, 6, 6, 6, 6, 6, 3, 3, 3, 3,  // U+00E0
    7, 7, 7, 7, 7, 7, 7, 9, 7, 7, 7, 7, 7, 6, 7, 6,  // U+00F0
};

int charWidth(char16_t c) {
  if (c >= 0x20 && c < 0x7F) return kAsciiWidths[c - 0x20];
  if (c >= 0xA0 && c <= 0xFF) return kLatin1Widths[c - 0xA0];
  return kOtherCharWidth;
}

int widthOf(std::u16string_view text) {
  int width = 0;
  for (char16_t c : text) width += charWidth(c);
  return width;
}

// DrawText's lines: one for DT_SINGLELINE; otherwise one for each line break, and with
// DT_WORDBREAK more wherever the next word would pass the rectangle's right edge (spaces at
// a break are not drawn; a word wider than the rectangle keeps a line of its own).
std::vector<std::u16string> layOut(std::u16string_view text, UINT format, int width) {
  if ((format & DT_SINGLELINE) != 0) return {std::u16string(text)};
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find(u'\n', start);
    std::u16string_view paragraph = text.substr(start, end == text.npos ? text.npos : end - start);
    if (!paragraph.empty() && paragraph.back() == u'\r') paragraph.remove_suffix(1);
    if ((format & DT_WORDBREAK) == 0) {
      lines.emplace_back(paragraph);
    } else {
      std::u16string line;
      size_t at = 0;
      do {
        size_t wordEnd = paragraph.find(u' ', at);
        if (wordEnd == paragraph.npos) wordEnd = paragraph.size();
        std::u16string_view word = paragraph.substr(at, wordEnd - at);
        std::u16string joined = line.empty() ? std::u16string(word) : line + u' ' + std::u16string(word);
        if (!line.empty() && widthOf(joined) > width) {
          lines.push_back(line);
          line = std::u16string(word);
        } else {
          line = joined;
        }
        at = wordEnd + 1;
      } while (at <= paragraph.size());
      lines.push_back(line);
    }
    if (end == text.npos) return lines;
    start = end + 1;
  }
}
constexpr COLORREF kInvalidColor = 0xFFFFFFFF;  // CLR_INVALID

std::optional<Pen> penOf(int handle) {
  const Device& d = device();
  auto made = d.pens.find(handle);
  if (made != d.pens.end()) return made->second;
  auto stock = d.stockByHandle.find(handle);
  if (stock == d.stockByHandle.end() || stock->second < kWhitePen) return std::nullopt;
  switch (stock->second) {
    case kWhitePen: return Pen{PS_SOLID, 1, RGB(255, 255, 255)};
    case kBlackPen: return Pen{PS_SOLID, 1, RGB(0, 0, 0)};
    default: return Pen{kPsNull, 1, RGB(0, 0, 0)};
  }
}

bool isStockBrush(int handle) {
  auto stock = device().stockByHandle.find(handle);
  return stock != device().stockByHandle.end() && stock->second <= kLastBrush;
}

// A drawing call on a DC that is not open is the device code's error, as GDI counts it.
DeviceContext* drawingDc(HDC dc) {
  DeviceContext* open = dcOf(dc);
  if (open == nullptr) ++device().gdi.errors;
  return open;
}

std::vector<DrawOp>& opsOf(const DeviceContext& dc) { return device().paints[dc.paint].ops; }

}  // namespace

int stockObject(int index) {
  Device& d = device();
  auto [entry, added] = d.stockByIndex.emplace(index, 0);
  if (added) {
    entry->second = newHandle();
    d.stockByHandle[entry->second] = index;
  }
  return entry->second;
}

HDC openDc(HWND window, size_t paint) {
  int number = newHandle();
  device().dcs[number] = DeviceContext{window, paint, OPAQUE, RGB(0, 0, 0),
                                       stockObject(kBlackPen), stockObject(kWhiteBrush),
                                       POINT{0, 0}, std::nullopt};
  return static_cast<HDC>(handleValue(number));
}

bool closeDc(HDC dc) { return device().dcs.erase(handleNumber(dc)) != 0; }

DeviceContext* dcOf(HDC dc) {
  auto found = device().dcs.find(handleNumber(dc));
  return found == device().dcs.end() ? nullptr : &found->second;
}

}  // namespace sim::detail

using namespace sim::detail;
using sim::DrawOp;

HGDIOBJ GetStockObject(int object) {
  logCall("GetStockObject", {logName(object)});
  if (object < kWhiteBrush || object > kNullPen) return nullptr;
  return handleValue(stockObject(object));
}

int SetBkMode(HDC dc, int mode) {
  logCall("SetBkMode", {logName(dc), logName(mode)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  std::swap(open->bkMode, mode);
  return mode;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  logCall("SetTextColor", {logName(dc), logName(color)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr) return kInvalidColor;
  std::swap(open->textColor, color);
  return color;
}

int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format) {
  logCall("DrawTextW", {logName(dc), logName(count), logName(format)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr || text == nullptr || rect == nullptr) return 0;
  std::u16string drawn = count < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(count));
  std::vector<std::u16string> lines = layOut(drawn, format, rect->right - rect->left);
  int height = static_cast<int>(lines.size()) * kLineHeight;
  if ((format & DT_CALCRECT) != 0) {  // measures only: the rectangle becomes the text's
    int widest = 0;
    for (const std::u16string& line : lines) widest = std::max(widest, widthOf(line));
    rect->right = rect->left + widest;
    rect->bottom = rect->top + height;
    return height;
  }
  DrawOp op{};
  op.kind = DrawOp::Text;
  op.text = std::move(drawn);
  op.lines = std::move(lines);
  op.count = count;
  op.rect = *rect;
  op.flags = format;
  op.color = open->textColor;
  op.bkMode = open->bkMode;
  opsOf(*open).push_back(op);
  return height;
}

HPEN CreatePen(int style, int width, COLORREF color) {
  logCall("CreatePen", {logName(style), logName(width), logName(color)});
  Device& d = device();
  int number = newHandle();
  d.pens[number] = Pen{style, width, color};
  ++d.gdi.pensCreated;
  return static_cast<HPEN>(handleValue(number));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  logCall("SelectObject", {logName(dc), logName(object)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr) return nullptr;
  int number = handleNumber(object);
  int* slot = penOf(number) ? &open->pen : isStockBrush(number) ? &open->brush : nullptr;
  if (slot == nullptr) {
    ++device().gdi.errors;
    return nullptr;
  }
  if (slot == &open->pen) open->lineRun.reset();  // later lines take the new pen
  std::swap(*slot, number);
  return handleValue(number);
}

BOOL DeleteObject(HGDIOBJ object) {
  logCall("DeleteObject", {logName(object)});
  Device& d = device();
  int number = handleNumber(object);
  if (d.stockByHandle.count(number) != 0) return TRUE;  // stock objects outlive any delete
  bool selected = std::any_of(d.dcs.begin(), d.dcs.end(),
                              [number](const auto& dc) { return dc.second.pen == number; });
  if (selected || d.pens.erase(number) == 0) {
    ++d.gdi.errors;
    return FALSE;
  }
  ++d.gdi.pensDeleted;
  return TRUE;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  logCall("MoveToEx", {logName(dc), logName(x), logName(y)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr) return FALSE;
  if (previous != nullptr) *previous = open->position;
  open->position = POINT{x, y};
  open->lineRun.reset();  // moving draws nothing; the next LineTo starts a new line here
  return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
  logCall("LineTo", {logName(dc), logName(x), logName(y)});
  DeviceContext* open = drawingDc(dc);
  if (open == nullptr) return FALSE;
  std::vector<DrawOp>& ops = opsOf(*open);
  if (!open->lineRun || *open->lineRun + 1 != ops.size()) {
    Pen pen = *penOf(open->pen);
    DrawOp op{};
    op.kind = DrawOp::Lines;
    op.color = pen.color;
    op.points.push_back(open->position);
    op.penStyle = pen.style;
    op.penWidth = pen.width;
    ops.push_back(op);
    open->lineRun = ops.size() - 1;
  }
  open->position = POINT{x, y};
  ops.back().points.push_back(open->position);
  return TRUE;
}

namespace sim {

int textWidth(std::u16string_view text) { return widthOf(text); }

GdiStats gdi() { return device().gdi; }

const std::vector<Paint>& paints() { return device().paints; }
const std::vector<Invalidation>& invalidations() { return device().invalidations; }

}  // namespace sim
