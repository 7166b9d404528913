// The shell: starting programs with ShellExecuteEx and the notification area's icons.
#include "sim/state.h"

#include <algorithm>

namespace sim::detail {
namespace {

// What the shell leaves in hInstApp: above 32 on success, SE_ERR_FNF on failure.
constexpr ULONG_PTR kStarted = 42;
constexpr ULONG_PTR kFileNotFound = 2;
// The Pocket PC shell reserves the notification icon ids 0 to 12 for itself.
constexpr UINT kLastReservedTrayId = 12;

std::vector<TrayIcon>::iterator findIcon(HWND window, UINT id) {
  std::vector<TrayIcon>& icons = device().trayIcons;
  return std::find_if(icons.begin(), icons.end(), [&](const TrayIcon& icon) {
    return icon.window == window && icon.id == id;
  });
}

// The tip as the shell reads it: up to the zero, never past the 64-unit field.
std::u16string tipOf(const NOTIFYICONDATAW& data) {
  const WCHAR* end = std::find(data.szTip, data.szTip + 64, 0);
  return std::u16string(data.szTip, end);
}

bool changeIcons(DWORD message, const NOTIFYICONDATAW& data) {
  if (data.uID <= kLastReservedTrayId) return false;
  auto icon = findIcon(data.hWnd, data.uID);
  bool present = icon != device().trayIcons.end();
  switch (message) {
    case NIM_ADD:
      if (present) return false;
      device().trayIcons.push_back({data.hWnd, data.uID, 0, 0, u""});
      icon = device().trayIcons.end() - 1;
      break;
    case NIM_MODIFY:
      if (!present) return false;
      break;
    case NIM_DELETE:
      if (!present) return false;
      device().trayIcons.erase(icon);
      return true;
    default:
      return false;
  }
  if ((data.uFlags & NIF_MESSAGE) != 0) icon->callbackMessage = data.uCallbackMessage;
  if ((data.uFlags & NIF_ICON) != 0) icon->iconResource = iconResourceOf(data.hIcon);
  if ((data.uFlags & NIF_TIP) != 0) icon->tip = tipOf(data);
  return true;
}

}  // namespace
}  // namespace sim::detail

using namespace sim::detail;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  logCall("ShellExecuteExW", {});
  if (info == nullptr) return FALSE;
  Device& d = device();
  std::u16string file = wide(info->lpFile);
  sim::StartOutcome outcome = startOutcome(file).value_or(sim::StartOutcome::Process);
  bool starts = outcome != sim::StartOutcome::Fails;
  d.programs.push_back({info->cbSize, info->fMask, info->hwnd, wide(info->lpVerb), file,
                        info->lpParameters == nullptr, info->lpDirectory == nullptr,
                        info->nShow, info->hInstApp, outcome, starts,
                        starts ? DWORD(STILL_ACTIVE) : 0, false, 0, wide(info->lpParameters), d.now});
  info->hInstApp = reinterpret_cast<HINSTANCE>(starts ? kStarted : kFileNotFound);
  // As documented for the shell: a process handle only for a caller that asks to keep one.
  bool handOut = outcome == sim::StartOutcome::Process &&
                 (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0;
  info->hProcess = handOut ? openProcess(d.programs.size() - 1) : nullptr;
  return starts ? TRUE : FALSE;
}

BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data) {
  logCall("Shell_NotifyIconW", {logName(message)});
  if (data == nullptr) fail("Shell_NotifyIconW without its data");
  bool succeeded = changeIcons(message, *data);
  device().trayCalls.push_back({message, data->cbSize, data->hWnd, data->uID, data->uFlags,
                                data->uCallbackMessage, iconResourceOf(data->hIcon),
                                tipOf(*data), succeeded});
  return succeeded ? TRUE : FALSE;
}

namespace sim {

std::vector<TrayIcon> trayIcons() { return device().trayIcons; }

std::optional<TrayIcon> trayIcon(HWND window, UINT id) {
  auto icon = findIcon(window, id);
  if (icon == device().trayIcons.end()) return std::nullopt;
  return *icon;
}

const std::vector<TrayCall>& trayCalls() { return device().trayCalls; }

void tapTrayIcon(HWND window, UINT id) {
  auto icon = findIcon(window, id);
  // Without a callback message the shell has nobody to tell about the tap.
  if (icon == device().trayIcons.end() || icon->callbackMessage == 0) return;
  UINT message = icon->callbackMessage;
  post(window, message, id, WM_LBUTTONDOWN);
  post(window, message, id, WM_LBUTTONUP);
}

}  // namespace sim
