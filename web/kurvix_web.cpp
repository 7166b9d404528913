// The page's way into the device code and kurvix-check: a few C functions for JavaScript.
// Each returns UTF-8 text (JSON) or bytes that stay valid until the next call.
//
// kurvix_check and kurvix_press are kurvix-check's own checks (check/check_api.h), so the page
// and the command line cannot disagree. The file is also put into the module's own file
// system under the name the caller gives, and the page's other files beside it
// (kurvix_put_file), so that a NewIni finds them as kurvix-check finds files beside the one
// it checks. A name without a folder is taken in kSetFolder, not in the root: on the device
// Kurvix.ini lies beside the program, and a NewIni written without a folder names a file
// in the device's root, which is none of the page's files. The other functions serve the
// page: the status window as the program paints it, the conversion to the device's format
// and the hints' explanations.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness/program_run.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "sim/device.h"
#include "check/check_api.h"
#include "check/convert.h"
#include "check/device_texts.h"
#include "check/hint_table.h"
#include "utf/utf.h"

// Where WebAssembly's linker begins static data. Below 64 KiB the device takes a pointer for
// an integer resource id, as Windows does, so a module built without -sGLOBAL_BASE=65536
// would take its own class name for one.
extern "C" char __global_base;

namespace {

const char* const kSetFolder = "/kurvix-page";

// Names without a folder are taken in kSetFolder from the module's start on.
const bool kInSetFolder = [] {
  std::error_code error;
  std::filesystem::create_directories(kSetFolder, error);
  std::filesystem::current_path(kSetFolder, error);
  return !error;
}();

std::string result;
std::vector<uint8_t> resultBytes;

const char* answer(std::string text) {
  result = std::move(text);
  return result.c_str();
}

void writeFile(const std::filesystem::path& path, const uint8_t* bytes, int size) {
  std::error_code error;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), size);
}

// The file where kurvix-check would find it on the host, for as long as a check needs it.
class HostFile {
 public:
  HostFile(const char* name, const uint8_t* bytes, int size) : path_(name), bytes_(bytes, bytes + size) {
    writeFile(path_, bytes, size);
  }
  ~HostFile() {
    std::error_code error;
    std::filesystem::remove(path_, error);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::filesystem::path path_;
  std::vector<uint8_t> bytes_;
};

std::string jsonRect(const RECT& rect) {
  std::ostringstream out;
  out << "[" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << "]";
  return out.str();
}

// The last painting of the window as JSON: its title, sizes and drawing operations in order.
std::string paintingJson(HWND window) {
  sim::WindowInfo info = sim::window(window);
  const sim::Paint* last = nullptr;
  for (const sim::Paint& paint : sim::paints()) {
    if (paint.window == window) last = &paint;
  }
  std::ostringstream out;
  out << "{\"title\": " << jsonString(info.title) << ", \"width\": " << info.width
      << ", \"height\": " << info.height << ", \"client\": " << jsonRect(info.client) << ", \"ops\": [";
  for (size_t i = 0; last != nullptr && i < last->ops.size(); ++i) {
    const sim::DrawOp& op = last->ops[i];
    out << (i ? ", " : "");
    if (op.kind == sim::DrawOp::Text) {
      out << "{\"kind\": \"text\", \"text\": " << jsonString(op.text) << ", \"lines\": [";
      for (size_t l = 0; l < op.lines.size(); ++l) out << (l ? ", " : "") << jsonString(op.lines[l]);
      out << "], \"rect\": " << jsonRect(op.rect) << ", \"flags\": " << op.flags
          << ", \"color\": " << op.color << "}";
    } else if (op.kind == sim::DrawOp::Lines) {
      out << "{\"kind\": \"lines\", \"color\": " << op.color << ", \"width\": " << op.penWidth << ", \"points\": [";
      for (size_t p = 0; p < op.points.size(); ++p) {
        out << (p ? ", " : "") << "[" << op.points[p].x << ", " << op.points[p].y << "]";
      }
      out << "]}";
    } else {
      out << "{\"kind\": \"erase\", \"rect\": " << jsonRect(op.rect) << "}";
    }
  }
  out << "]}";
  return out.str();
}

// count pairs of key and ms.
std::vector<Press> pressesOf(const uint32_t* presses, int count) {
  std::vector<Press> held;
  for (int i = 0; i < count; ++i) held.push_back({presses[2 * i], presses[2 * i + 1]});
  return held;
}

}  // namespace

extern "C" {

// The address where static data begins; the page refuses to start below 0x10000.
EMSCRIPTEN_KEEPALIVE unsigned kurvix_static_data_start() {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(&__global_base));
}

// Whether names without a folder are taken in the page's own folder: 0 when the module
// could not make it, and a NewIni without a folder would find the page's files.
EMSCRIPTEN_KEEPALIVE int kurvix_set_folder_ready() { return kInSetFolder ? 1 : 0; }

// Puts a file into the module's file system (a NewIni may name it) until kurvix_remove_file.
EMSCRIPTEN_KEEPALIVE void kurvix_put_file(const char* path, const uint8_t* bytes, int size) {
  writeFile(path, bytes, size);
}

EMSCRIPTEN_KEEPALIVE void kurvix_remove_file(const char* path) {
  std::error_code error;
  std::filesystem::remove(path, error);
}

// The device's facts the page shows: its texts by their names in the device code, and the
// resource ids of the tray icon's two pictures.
EMSCRIPTEN_KEEPALIVE const char* kurvix_device_facts() {
  std::string out = "{\"texts\": {";
  for (const DeviceText& text : deviceTexts()) {
    out += std::string(out.back() == '{' ? "" : ", ") + "\"" + text.name + "\": " + jsonString(text.german);
  }
  return answer(out + "}, \"trayIcons\": {\"enabled\": " + std::to_string(IDI_TRAY_ENABLED) +
                ", \"disabled\": " + std::to_string(IDI_TRAY_DISABLED) + "}}");
}

// kurvix-check --explain ID; "" when no hint has that id.
EMSCRIPTEN_KEEPALIVE const char* kurvix_explain(const char* id) {
  const HintEntry* entry = findHintEntry(id);
  return answer(entry == nullptr ? "" : explanationOf(*entry));
}

// kurvix-check --json NAME, for these bytes under that name.
EMSCRIPTEN_KEEPALIVE const char* kurvix_check(const char* name, const uint8_t* bytes, int size) {
  HostFile file(name, bytes, size);
  return answer(checkJson(name, file.bytes()));
}

// kurvix-check --json NAME --press KEY:MS ...; presses holds count pairs of key and ms.
EMSCRIPTEN_KEEPALIVE const char* kurvix_press(const char* name, const uint8_t* bytes, int size,
                                              const uint32_t* presses, int count) {
  HostFile file(name, bytes, size);
  return answer(pressJson(name, file.bytes(), pressesOf(presses, count)));
}

// The status window as the program paints it with this configuration as its Kurvix.ini, on
// a screen of screenWidth x screenHeight with the task bar (26 pixels) along its foot:
// started, its window opened from the tray icon, then a press of lastKey (none when 0), as a
// user would to read a key's code, then the taps the user made, in order, 100 ms apart
// (taps holds count triples: kind, x, y; kind 0 a tap at client x, y, kind 1 a tap on the
// tray icon). The painting, then where the window is, whether it shows, and the tray icon.
// {"ended": true} when the program does not start.
EMSCRIPTEN_KEEPALIVE const char* kurvix_window(const uint8_t* bytes, int size, unsigned lastKey, int screenWidth,
                                               int screenHeight, const int32_t* taps, int count) {
  const int kTaskBarHeight = 26;
  harness::ProgramRun program(u"\\Programme\\kurvix.exe");
  program.configure(std::vector<uint8_t>(bytes, bytes + size));
  // The work area is the screen above the task bar; the caption keeps the device's 26 pixels.
  sim::setWorkArea({0, 0, screenWidth, screenHeight - kTaskBarHeight});
  std::string painting;
  program.at(1000, [](HWND window) {
    if (!sim::window(window).visible) sim::tapTrayIcon(window, TRAY_ICON_ID);
  });
  if (lastKey != 0) program.press(lastKey, 2000, 10);
  for (int i = 0; i < count; ++i) {
    int kind = taps[3 * i], x = taps[3 * i + 1], y = taps[3 * i + 2];
    if (kind == 1) {
      program.tapTrayIcon(3000 + 100 * uint64_t(i));
    } else {
      program.tap(3000 + 100 * uint64_t(i), x, y);
    }
  }
  program.at(10000 + 100 * uint64_t(count), [&painting, screenWidth, screenHeight](HWND window) {
    sim::WindowInfo info = sim::window(window);
    std::optional<sim::TrayIcon> icon = sim::trayIcon(window, TRAY_ICON_ID);
    painting = paintingJson(window);
    painting.pop_back();  // the painting's closing brace: the screen's keys follow its own
    painting += ", \"x\": " + std::to_string(info.x) + ", \"y\": " + std::to_string(info.y) +
                ", \"visible\": " + (info.visible ? "true" : "false") + ", \"screen\": [" +
                std::to_string(screenWidth) + ", " + std::to_string(screenHeight) + "], \"workArea\": " +
                jsonRect({0, 0, screenWidth, screenHeight - kTaskBarHeight}) + ", \"trayIcon\": " +
                (icon ? std::to_string(icon->iconResource) : "null") + "}";
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  int exitCode = program.run();
  return answer(exitCode != 0 || painting.empty() ? "{\"ended\": true}" : painting);
}

// kurvix_press's presses over time: what the simulated device recorded while each key was
// held (check/press_timeline.h).
EMSCRIPTEN_KEEPALIVE const char* kurvix_timeline(const char* name, const uint8_t* bytes, int size,
                                                 const uint32_t* presses, int count) {
  HostFile file(name, bytes, size);
  return answer(pressTimelineJson(name, file.bytes(), pressesOf(presses, count)));
}

// The file in the device's format (UTF-16LE, byte-order mark, CR LF), converted as
// kurvix-check --to-unicode [--from FROM] converts it (FROM "" to recognise it): "" and the
// bytes in kurvix_result_bytes(), or, when the conversion is refused, "LINE:COLUMN: why".
EMSCRIPTEN_KEEPALIVE const char* kurvix_convert(const uint8_t* bytes, int size, const char* from) {
  Conversion conversion = toDeviceFormat(std::vector<uint8_t>(bytes, bytes + size), from);
  resultBytes = conversion.bytes.value_or(std::vector<uint8_t>());
  if (conversion.bytes) return answer("");
  return answer(conversion.position.empty() ? conversion.error : conversion.position + ": " + conversion.error);
}

EMSCRIPTEN_KEEPALIVE const uint8_t* kurvix_result_bytes() { return resultBytes.data(); }
EMSCRIPTEN_KEEPALIVE int kurvix_result_size() { return static_cast<int>(resultBytes.size()); }

}  // extern "C"
