/*
 * Telling a long press from a short one. A key message stamps the press and starts a
 * poll timer named after the key code; each tick asks whether the key is still down.
 * Held for elapseTime, the binding's actions run once; released earlier, the key is
 * handed back to the system: unregistered for a moment, one silent key-down and one
 * key-up injected, registered again.
 *
 * Times are compared as unsigned 32-bit differences (now - pressTick), which stays right
 * when the tick counter wraps during a press.
 *
 * A held key repeats its key-down: every repeat is one more key message, which a press being
 * timed ignores. A key the table holds (see binding_table.h) starts no press, nor does any
 * key message for a key the table no longer has registered: it was caught just before the
 * bindings went off or were replaced, and waited in the queue meanwhile. Its key-down
 * reached nobody, so the key is handed back, once, whatever the bindings say of it now: held
 * until released if it is still down, otherwise at once. Without a poll timer a press could
 * never end: its key is handed back at once too. A held key whose timer the system refused
 * asks for it again at every key message and tick that reaches the table (its own repeats
 * among them).
 */
#include "engine/binding_table.h"

void BindingTable::askForRefusedTimers() {
  for (DWORD i = 0; i < heldCount_; ++i) {
    HeldKey& held = heldKeys_[i];
    if (!held.timed) held.timed = SetTimer(window_, held.keyCode, checkInterval_, NULL) != 0;
  }
}

LRESULT BindingTable::onKeyMessage(WPARAM id, LPARAM lParam) {
  DWORD virtualKey = static_cast<DWORD>(lParam) >> 16;
  DWORD keyCode = static_cast<DWORD>(id);
  askForRefusedTimers();
  if (keyCode != virtualKey) return 0;
  // A repeat of a held key.
  if (isHeld(keyCode)) return 0;
  if (!isRegistered(keyCode)) {
    // Caught before its key was let go: handed back once, whatever the bindings are now.
    if (markLetGo(keyCode, 0)) handBackLatePress(keyCode);
    return 0;
  }
  for (DWORD i = 0; i < count_; ++i) {
    KeyBinding* binding = bindings_[i];
    if (binding->keyCode() == keyCode && !binding->pressed()) {
      binding->markPressed();
      if (!SetTimer(window_, keyCode, checkInterval_, NULL)) {
        // A press that could never end: handed back at once, and the key caught again.
        letGo(keyCode);
        catchKey(keyCode);
        return 0;
      }
    }
  }
  return 0;
}

LRESULT BindingTable::onTimer(WPARAM id) {
  askForRefusedTimers();
  for (DWORD i = 0; i < heldCount_; ++i) {
    if (heldKeys_[i].keyCode == id) {
      onHeldKeyTimer(i);
      return 0;
    }
  }
  KeyBinding* binding = firstBinding(static_cast<DWORD>(id));
  if (binding == NULL || !binding->pressed()) return 0;
  DWORD keyCode = binding->keyCode();

  if (GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) {
    DWORD held = GetTickCount() - binding->pressTick();
    if (held < elapseTime_ || binding->fired()) return 0;
    // A reload asked for here runs when the scope ends; the binding may be gone then.
    BoxScope scope(*this);
    binding->launch();
    if (!destroyed_) {
      if (binding->disableAll()) disable();
      if (binding->newIniPath() != NULL) requestReload(binding->newIniPath());
    }
    return 0;
  }

  if (binding->fired()) {
    KillTimer(window_, keyCode);
    binding->resetPress();
    return 0;
  }
  // Released before it acted: handed back. A binding is pressed only while the bindings are
  // on, so its key is caught again.
  letGo(keyCode);
  catchKey(keyCode);
  return 0;
}

void BindingTable::onHeldKeyTimer(DWORD index) {
  DWORD keyCode = heldKeys_[index].keyCode;
  if (GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) return;
  // Released: the key is an ordinary binding again if the bindings are on and bind it; a
  // file being read binds nothing yet.
  unsigned char stays = !loading_ && !disabled_ && firstBinding(keyCode) != NULL;
  if (stays && !heldKeys_[index].passOnRelease) {
    KillTimer(window_, keyCode);
    dropHeld(&heldKeys_[index]);
    return;
  }
  letGo(keyCode);
  if (stays) catchKey(keyCode);
}

void BindingTable::handBackLatePress(DWORD keyCode) {
  if ((GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) && catchKey(keyCode) == 0 &&
      isRegistered(keyCode) && holdKey(keyCode, 1)) {
    return;
  }
  injectKey(keyCode);
}

void BindingTable::injectKey(DWORD keyCode) {
  BYTE virtualKey = static_cast<BYTE>(keyCode & 0xFF);
  keybd_event(virtualKey, 0, KEYEVENTF_SILENT, 0);
  keybd_event(virtualKey, 0, KEYEVENTF_KEYUP, 0);
}
