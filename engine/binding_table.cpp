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

BindingTable* BindingTable::create(HWND window, HINSTANCE instance, UINT statusMessage) {
  BindingTable* table = new (std::nothrow) BindingTable();
  if (table == NULL) return NULL;
  // Both are in place before loading, so that the load can report to the window.
  table->statusMessage_ = statusMessage;
  table->window_ = window;
  if (table->loadFromProgramDir(instance) != 0) {
    delete table;
    return NULL;
  }
  table->registerAll();
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
      heldKeys_(NULL),
      heldCount_(0),
      operationDepth_(0),
      pendingReload_(NULL),
      destroyPending_(0) {
  resetSettings();
}

BindingTable::~BindingTable() {
  if (!destroyPending_) releaseKeysAndTimers();
  deleteBindings();
  delete[] heldKeys_;
  delete[] pendingReload_;
}

void BindingTable::resetSettings() {
  bindings_ = NULL;
  checkInterval_ = 100;
  elapseTime_ = 1000;
  count_ = 0;
  disabled_ = 0;
}

void BindingTable::releaseKeysAndTimers() {
  for (DWORD i = 0; i < count_; ++i) {
    KeyBinding* binding = bindings_[i];
    if (!disabled_ && !isHeld(binding->keyCode())) {
      UnregisterHotKey(window_, static_cast<int>(binding->keyCode()));
    }
    if (binding->pressed()) KillTimer(window_, binding->keyCode());
  }
  for (; heldCount_ > 0; --heldCount_) {
    DWORD keyCode = heldKeys_[heldCount_ - 1].keyCode;
    UnregisterHotKey(window_, static_cast<int>(keyCode));
    KillTimer(window_, keyCode);
  }
}

void BindingTable::clear() {
  if (bindings_ == NULL) return;
  if (!destroyPending_) {
    // A key pressed now stays caught until it is released, whatever the new bindings are.
    holdPressedKeys();
    if (!disabled_) unregisterAll();
  }
  deleteBindings();
}

void BindingTable::deleteBindings() {
  for (DWORD i = 0; i < count_; ++i) delete bindings_[i];
  delete[] bindings_;
  bindings_ = NULL;
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
    // A key held across a switch-off or a reload is registered already, by this table.
    if (isHeld(bindings_[i]->keyCode())) continue;
    if (registerKey(i) != 0) return;
  }
}

int BindingTable::registerKey(DWORD index) {
  const KeyBinding* binding = bindings_[index];
  DWORD keyCode = binding->keyCode();
  if (RegisterHotKey(window_, static_cast<int>(keyCode), 0, keyCode)) return 0;
  // Not taken by another program: the table holds the key already, for an earlier binding
  // of the same key.
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

void BindingTable::unregisterAll() {
  for (DWORD i = 0; i < count_; ++i) {
    DWORD keyCode = bindings_[i]->keyCode();
    if (!isHeld(keyCode)) UnregisterHotKey(window_, static_cast<int>(keyCode));
  }
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
      UnregisterHotKey(window_, static_cast<int>(keyCode));
      continue;
    }
    ++heldCount_;
  }
}

void BindingTable::disable() {
  if (!disabled_) {
    disabled_ = 1;
    holdPressedKeys();
    unregisterAll();
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
}

void BindingTable::reload(const WCHAR* path) {
  if (load(path) != 0) {
    // Nothing is bound any more: the table says off, as the tray icon and the window will.
    disable();
  } else if (!destroyPending_ && !disabled_) {
    // Switched off during one of the reader's boxes: the new keys stay unregistered.
    registerAll();
  }
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
