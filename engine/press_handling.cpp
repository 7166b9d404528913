/*
 * Telling a long press from a short one. A key message stamps the press and starts a
 * poll timer named after the key code; each tick asks whether the key is still down.
 * Held for elapseTime, the binding's actions run once; released earlier, the key is
 * handed back to the system: unregistered for a moment, one silent key-down and one
 * key-up injected, registered again.
 *
 * Times are compared as unsigned 32-bit differences (now - pressTick), which stays right
 * when the tick counter wraps during a press.
 */
#include "engine/binding_table.h"

LRESULT BindingTable::onKeyMessage(WPARAM id, LPARAM lParam) {
  DWORD virtualKey = static_cast<DWORD>(lParam) >> 16;
  for (DWORD i = 0; i < count_; ++i) {
    KeyBinding* binding = bindings_[i];
    if (binding->keyCode() == id && binding->keyCode() == virtualKey && !binding->pressed()) {
      binding->markPressed();
      SetTimer(window_, binding->keyCode(), checkInterval_, NULL);
    }
  }
  return 0;
}

LRESULT BindingTable::onTimer(WPARAM id) {
  KeyBinding* binding = NULL;
  for (DWORD i = 0; i < count_ && binding == NULL; ++i) {
    if (bindings_[i]->keyCode() == id) binding = bindings_[i];
  }
  if (binding == NULL || !binding->pressed()) return 0;

  if (GetAsyncKeyState(static_cast<int>(binding->keyCode())) & 0x8000) {
    DWORD held = GetTickCount() - binding->pressTick();
    if (held < elapseTime_ || binding->fired()) return 0;
    ++operationDepth_;
    binding->launch();
    if (!destroyPending_) {
      if (binding->disableAll()) disable();
      if (binding->newIniPath() != NULL) requestReload(binding->newIniPath());
    }
    leaveOperation();
    return 0;
  }

  KillTimer(window_, binding->keyCode());
  if (!binding->fired()) passThrough(binding);
  binding->resetPress();
  return 0;
}

void BindingTable::passThrough(KeyBinding* binding) {
  DWORD keyCode = binding->keyCode();
  BYTE virtualKey = static_cast<BYTE>(keyCode & 0xFF);
  UnregisterHotKey(window_, static_cast<int>(keyCode));
  keybd_event(virtualKey, 0, KEYEVENTF_SILENT, 0);
  keybd_event(virtualKey, 0, KEYEVENTF_KEYUP, 0);
  // The key is registered again even while the table is switched off.
  RegisterHotKey(window_, static_cast<int>(keyCode), 0, keyCode);
  if (disabled_) binding->registeredWhileDisabled = 1;
}
