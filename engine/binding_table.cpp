#include "engine/binding_table.h"

#include <new>

#include "config/text.h"

namespace {

/* Grows an array of exactly count items by one item at its end; without memory for the
   larger array it returns 0 and leaves the array as it was. */
template <typename Item>
int appendItem(Item*& items, DWORD count, const Item& item) {
  Item* grown = new (std::nothrow) Item[count + 1];
  if (grown == NULL) return 0;
  for (DWORD i = 0; i < count; ++i) grown[i] = items[i];
  delete[] items;
  grown[count] = item;
  items = grown;
  return 1;
}

}  // namespace

BindingTable* BindingTable::create(HWND window, HINSTANCE instance, UINT statusMessage,
                                   BindingTable*& owner) {
  owner = NULL;
  BindingTable* table = new (std::nothrow) BindingTable();
  if (table == NULL) return NULL;
  // All three are in place before loading, so that the load can report to the window and
  // the window can reach the table while a box of the load or of a taken key is open.
  table->statusMessage_ = statusMessage;
  table->window_ = window;
  owner = table;
  ++table->operationDepth_;
  int failed = table->loadFromProgramDir(instance);
  if (!failed && !table->destroyPending_) table->registerAll();
  unsigned char destroyed = table->destroyPending_;
  // Frees a table destroyed meanwhile; carries out a reload asked for meanwhile.
  table->leaveOperation();
  if (destroyed) return NULL;
  if (failed) {
    owner = NULL;
    delete table;
    return NULL;
  }
  return table;
}

void BindingTable::destroy(BindingTable* table) {
  if (table == NULL) return;
  if (table->operationDepth_ > 0) {
    // An operation below us waits in a message box and still uses the table: free it
    // when that operation returns, but let go of every key and timer now.
    table->releaseKeysAndTimers();
    table->destroyPending_ = 1;
    return;
  }
  delete table;
}

BindingTable::BindingTable()
    : statusMessage_(0),
      window_(NULL),
      disabled_(0),
      heldKeys_(NULL),
      heldCount_(0),
      registeredKeys_(NULL),
      registeredCount_(0),
      operationDepth_(0),
      pendingReload_(NULL),
      reloadSwitchesOn_(0),
      destroyPending_(0) {
  resetSettings();
}

BindingTable::~BindingTable() {
  if (!destroyPending_) releaseKeysAndTimers();
  deleteBindings();
  delete[] heldKeys_;
  delete[] registeredKeys_;
  delete[] pendingReload_;
}

void BindingTable::resetSettings() {
  bindings_ = NULL;
  checkInterval_ = 100;
  elapseTime_ = 1000;
  count_ = 0;
}

void BindingTable::releaseKeysAndTimers() {
  for (DWORD i = 0; i < count_; ++i) {
    if (bindings_[i]->pressed()) KillTimer(window_, bindings_[i]->keyCode());
  }
  for (; heldCount_ > 0; --heldCount_) KillTimer(window_, heldKeys_[heldCount_ - 1].keyCode);
  while (registeredCount_ > 0) releaseKey(registeredKeys_[0]);
}

void BindingTable::clear() {
  if (bindings_ == NULL) return;
  if (!destroyPending_) {
    // A key pressed now stays caught until it is released, whatever the new bindings are.
    holdPressedKeys();
  }
  deleteBindings();
  releaseStrayKeys();
}

void BindingTable::deleteBindings() {
  for (DWORD i = 0; i < count_; ++i) delete bindings_[i];
  delete[] bindings_;
  bindings_ = NULL;
  count_ = 0;
}

void BindingTable::append(KeyBinding* binding) {
  if (binding == NULL) return;
  if (!appendItem(bindings_, count_, binding)) {
    delete binding;
    return;
  }
  ++count_;
}

void BindingTable::registerAll() {
  for (DWORD i = 0; i < count_; ++i) {
    // Registered already: a held key, an earlier binding of the same key, or a key
    // registered again while a box of this loop was open.
    if (isRegistered(bindings_[i]->keyCode())) continue;
    if (registerKey(i) != 0) return;
  }
}

int BindingTable::registerKey(DWORD index) {
  DWORD keyCode = bindings_[index]->keyCode();
  if (catchKey(keyCode) == 0) {
    // Down already: its key-down went to the program in front, so its repeats must not
    // begin a press. Held until released, it then is an ordinary binding.
    if (isRegistered(keyCode) && (GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000)) {
      holdKey(keyCode, 0);
    }
    return 0;
  }
  // Another program holds the key; an earlier binding of it has been reported already.
  for (DWORD i = 0; i < index; ++i) {
    if (bindings_[i]->keyCode() == keyCode) return 0;
  }
  WCHAR text[16];
  wsprintfW(text, TEXT("%u"), keyCode);
  // The box's own message loop may switch the bindings off, ask for a reload or destroy
  // the table; the operation keeps the bindings in place until it ends.
  ++operationDepth_;
  MessageBoxW(NULL, text, TEXT("Kurvix - Taste belegt:"), MB_OK | MB_ICONEXCLAMATION);
  // Registering stops when the bindings went off, the table is to go, or a reload asked for
  // meanwhile is about to replace these bindings and register its own.
  int stop = disabled_ || destroyPending_ || pendingReload_ != NULL;
  leaveOperation();
  return stop;
}

int BindingTable::catchKey(DWORD keyCode) {
  if (isRegistered(keyCode)) return 0;
  if (!RegisterHotKey(window_, static_cast<int>(keyCode), 0, keyCode)) return 1;
  if (!appendItem(registeredKeys_, registeredCount_, keyCode)) {
    // Without memory to list it, it could never be let go again: not caught at all.
    UnregisterHotKey(window_, static_cast<int>(keyCode));
    return 0;
  }
  ++registeredCount_;
  return 0;
}

void BindingTable::releaseKey(DWORD keyCode) {
  for (DWORD i = 0; i < registeredCount_; ++i) {
    if (registeredKeys_[i] != keyCode) continue;
    UnregisterHotKey(window_, static_cast<int>(keyCode));
    // Later registrations move up one place: the list keeps the order of registration.
    for (DWORD j = i + 1; j < registeredCount_; ++j) registeredKeys_[j - 1] = registeredKeys_[j];
    if (--registeredCount_ == 0) {
      delete[] registeredKeys_;
      registeredKeys_ = NULL;
    }
    return;
  }
}

void BindingTable::releaseStrayKeys() {
  // In the order of registration; releasing a key moves the later ones up.
  for (DWORD i = 0; i < registeredCount_;) {
    DWORD keyCode = registeredKeys_[i];
    if (isHeld(keyCode) || (!disabled_ && firstBinding(keyCode) != NULL)) {
      ++i;
    } else {
      releaseKey(keyCode);
    }
  }
}

unsigned char BindingTable::isRegistered(DWORD keyCode) const {
  for (DWORD i = 0; i < registeredCount_; ++i) {
    if (registeredKeys_[i] == keyCode) return 1;
  }
  return 0;
}

unsigned char BindingTable::isHeld(DWORD keyCode) const {
  for (DWORD i = 0; i < heldCount_; ++i) {
    if (heldKeys_[i].keyCode == keyCode) return 1;
  }
  return 0;
}

KeyBinding* BindingTable::firstBinding(DWORD keyCode) const {
  for (DWORD i = 0; i < count_; ++i) {
    if (bindings_[i]->keyCode() == keyCode) return bindings_[i];
  }
  return NULL;
}

void BindingTable::holdPressedKeys() {
  for (DWORD i = 0; i < count_; ++i) {
    KeyBinding* binding = bindings_[i];
    if (!binding->pressed()) continue;
    DWORD keyCode = binding->keyCode();
    unsigned char passOnRelease = binding->fired() ? 0 : 1;
    binding->resetPress();
    // Ticks reach only the first binding of a key: a later one stays pressed without a timer
    // of its own once the first is released, and has no press to hold.
    if (isHeld(keyCode) || firstBinding(keyCode) != binding) continue;
    HeldKey held = {keyCode, passOnRelease};
    if (!appendItem(heldKeys_, heldCount_, held)) {
      // Without memory to hold it, the press ends here, as if its key had been released.
      KillTimer(window_, keyCode);
      releaseKey(keyCode);
      continue;
    }
    ++heldCount_;
  }
}

int BindingTable::holdKey(DWORD keyCode, unsigned char passOnRelease) {
  HeldKey held = {keyCode, passOnRelease};
  if (!SetTimer(window_, keyCode, checkInterval_, NULL)) return 0;
  if (!appendItem(heldKeys_, heldCount_, held)) {
    KillTimer(window_, keyCode);
    return 0;
  }
  ++heldCount_;
  return 1;
}

void BindingTable::disable() {
  reloadSwitchesOn_ = 0;
  if (!disabled_) {
    disabled_ = 1;
    holdPressedKeys();
    releaseStrayKeys();
  }
  postStatus(STATUS_DISABLED, 0);
}

void BindingTable::enable() {
  postStatus(STATUS_ENABLED, 0);
  if (disabled_) {
    disabled_ = 0;
    // Last: the message box about a taken key may end with the table freed.
    registerAll();
  }
}

void BindingTable::postStatus(WPARAM status, LPARAM value) {
  PostMessageW(window_, statusMessage_, status, value);
}

void BindingTable::requestReload(const WCHAR* path) {
  WCHAR* copy = duplicateText(path);
  if (copy == NULL) return;
  delete[] pendingReload_;
  pendingReload_ = copy;
  reloadSwitchesOn_ = 1;
}

void BindingTable::reload(const WCHAR* path) {
  if (load(path) != 0) {
    // Nothing is bound any more: the table says off, as the tray icon and the window will.
    disable();
    return;
  }
  if (destroyPending_) return;
  // Switched off during one of the reader's boxes, after the reload was asked for: the new
  // keys stay unregistered. The window learns the state from the load's report.
  if (reloadSwitchesOn_) disabled_ = 0;
  if (!disabled_) registerAll();
}

void BindingTable::leaveOperation() {
  if (operationDepth_ > 1) {
    --operationDepth_;
    return;
  }
  // Outermost: nothing below waits in a box any more, so bindings may now be deleted.
  while (pendingReload_ != NULL && !destroyPending_) {
    WCHAR* path = pendingReload_;
    pendingReload_ = NULL;
    reload(path);
    delete[] path;
  }
  operationDepth_ = 0;
  if (destroyPending_) delete this;
}
