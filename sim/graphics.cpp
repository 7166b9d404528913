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
constexpr int kLineHeight = 16;
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
  DrawOp op{};
  op.kind = DrawOp::Text;
  op.text = count < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(count));
  op.count = count;
  op.rect = *rect;
  op.flags = format;
  op.color = open->textColor;
  op.bkMode = open->bkMode;
  opsOf(*open).push_back(op);
  int lines = (format & DT_SINGLELINE) != 0
                  ? 1
                  : 1 + static_cast<int>(std::count(op.text.begin(), op.text.end(), u'\n'));
  return lines * kLineHeight;
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

GdiStats gdi() { return device().gdi; }

const std::vector<Paint>& paints() { return device().paints; }
const std::vector<Invalidation>& invalidations() { return device().invalidations; }

}  // namespace sim
