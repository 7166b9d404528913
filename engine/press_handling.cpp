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
 * reached nobody, so the key is handed back: held until released if it is still down,
 * otherwise at once. Without a poll timer a press could never end: its key is handed back
 * at once too.
 */
#include "engine/binding_table.h"

LRESULT BindingTable::onKeyMessage(WPARAM id, LPARAM lParam) {
  DWORD virtualKey = static_cast<DWORD>(lParam) >> 16;
  DWORD keyCode = static_cast<DWORD>(id);
  if (isHeld(keyCode) || keyCode != virtualKey) return 0;
  if (!isRegistered(keyCode)) {
    if (firstBinding(keyCode) != NULL) handBackLatePress(keyCode);
    return 0;
  }
  for (DWORD i = 0; i < count_; ++i) {
    KeyBinding* binding = bindings_[i];
    if (binding->keyCode() == keyCode && !binding->pressed()) {
      binding->markPressed();
      if (!SetTimer(window_, keyCode, checkInterval_, NULL)) {
        binding->resetPress();
        passThrough(keyCode, 1);
        return 0;
      }
    }
  }
  return 0;
}

LRESULT BindingTable::onTimer(WPARAM id) {
  for (DWORD i = 0; i < heldCount_; ++i) {
    if (heldKeys_[i].keyCode == id) {
      onHeldKeyTimer(i);
      return 0;
    }
  }
  KeyBinding* binding = firstBinding(static_cast<DWORD>(id));
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
  // A binding is pressed only while the bindings are on, so its key is registered again.
  if (!binding->fired()) passThrough(binding->keyCode(), 1);
  binding->resetPress();
  return 0;
}

void BindingTable::onHeldKeyTimer(DWORD index) {
  DWORD keyCode = heldKeys_[index].keyCode;
  if (GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) return;
  unsigned char passOnRelease = heldKeys_[index].passOnRelease;
  heldKeys_[index] = heldKeys_[--heldCount_];
  if (heldCount_ == 0) {
    // Nothing held: no memory kept for it either.
    delete[] heldKeys_;
    heldKeys_ = NULL;
  }
  KillTimer(window_, keyCode);
  // Released: the key is an ordinary binding again if the bindings are on and bind it.
  unsigned char stays = !disabled_ && firstBinding(keyCode) != NULL;
  if (passOnRelease) {
    passThrough(keyCode, stays);
  } else if (!stays) {
    releaseKey(keyCode);
  }
}

void BindingTable::handBackLatePress(DWORD keyCode) {
  if ((GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) && catchKey(keyCode) == 0 &&
      isRegistered(keyCode) && holdKey(keyCode, 1)) {
    return;
  }
  passThrough(keyCode, 0);
}

void BindingTable::passThrough(DWORD keyCode, unsigned char registerAgain) {
  BYTE virtualKey = static_cast<BYTE>(keyCode & 0xFF);
  releaseKey(keyCode);
  keybd_event(virtualKey, 0, KEYEVENTF_SILENT, 0);
  keybd_event(virtualKey, 0, KEYEVENTF_KEYUP, 0);
  if (registerAgain) catchKey(keyCode);
}
