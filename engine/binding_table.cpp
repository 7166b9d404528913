#include "engine/binding_table.h"

#include <new>

#include "config/reader.h"
#include "config/text.h"
#include "res/texts.h"

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

/* The slot where the search for a key code in the index of registered keys begins. Key
   codes a file binds are often neighbours: the multiplication spreads them over the slots,
   and folding the high half in keeps codes apart that differ only there. */
DWORD firstIndexSlot(DWORD keyCode, DWORD mask) {
  DWORD hash = keyCode * 2654435761u;
  return (hash ^ (hash >> 16)) & mask;
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
  int failed = 0;
  {
    BoxScope scope(*table);
    failed = table->loadFromProgramDir(instance);
    if (!failed && !table->destroyed_ && !table->disabled_) table->registerAll();
  }  // a reload asked for meanwhile has run here, and may have met a close
  if (!failed && !table->destroyed_) return table;
  // Destroyed meanwhile, the window has let go of it already.
  if (!table->destroyed_) owner = NULL;
  delete table;
  return NULL;
}

void BindingTable::destroy(BindingTable* table) {
  if (table == NULL) return;
  table->releaseKeysAndTimers();
  table->destroyed_ = 1;
  freeIfDestroyed(table);
}

void BindingTable::freeIfDestroyed(BindingTable* table) {
  // An operation below waits in a message box and still uses the table until it returns.
  if (table != NULL && table->destroyed_ && table->boxDepth_ == 0) delete table;
}

BindingTable::BoxScope::BoxScope(BindingTable& table) : table_(table) { ++table_.boxDepth_; }

BindingTable::BoxScope::~BoxScope() {
  // Outermost: nothing below waits in a box any more, so bindings may now be deleted.
  while (table_.boxDepth_ == 1 && table_.pendingReload_ != NULL && !table_.destroyed_) {
    WCHAR* path = table_.pendingReload_;
    table_.pendingReload_ = NULL;
    table_.reload(path);
    delete[] path;
  }
  --table_.boxDepth_;
}

BindingTable::BindingTable()
    : statusMessage_(0),
      window_(NULL),
      disabled_(0),
      heldKeys_(NULL),
      heldCount_(0),
      registeredKeys_(NULL),
      registeredCount_(0),
      registeredCapacity_(0),
      registeredIndex_(NULL),
      boxDepth_(0),
      loading_(0),
      pendingReload_(NULL),
      reloadSwitchesOn_(0),
      destroyed_(0) {
  memset(letGoKeys_, 0, sizeof(letGoKeys_));
  resetSettings();
}

BindingTable::~BindingTable() {
  if (!destroyed_) releaseKeysAndTimers();
  deleteBindings();
  delete[] heldKeys_;
  delete[] registeredKeys_;
  delete[] registeredIndex_;
  delete[] pendingReload_;
}

void BindingTable::resetSettings() {
  bindings_ = NULL;
  checkInterval_ = DEFAULT_CHECK_INTERVAL;
  elapseTime_ = DEFAULT_ELAPSE_TIME;
  count_ = 0;
}

void BindingTable::releaseKeysAndTimers() {
  while (registeredCount_ > 0) letGo(registeredKeys_[0]);
}

void BindingTable::clear() {
  if (bindings_ == NULL) return;
  if (!destroyed_) {
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
    // begin a press. Held until released, it then is an ordinary binding; without memory
    // to hold it, it is not caught at all.
    if (isRegistered(keyCode) && (GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) &&
        !holdKey(keyCode, 0)) {
      releaseKey(keyCode);
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
  // the table; the scope keeps the bindings in place until it ends.
  BoxScope scope(*this);
  MessageBoxW(NULL, text, KEY_TAKEN, MB_OK | MB_ICONEXCLAMATION);
  // Registering stops when the bindings went off, the table is to go, or a reload asked for
  // meanwhile is about to replace these bindings and register its own.
  return disabled_ || destroyed_ || pendingReload_ != NULL;
}

int BindingTable::catchKey(DWORD keyCode) {
  if (!RegisterHotKey(window_, static_cast<int>(keyCode), 0, keyCode)) return 1;
  if (!makeRoomToList()) {
    // Without memory to list it, it could never be let go again: not caught at all.
    UnregisterHotKey(window_, static_cast<int>(keyCode));
    return 0;
  }
  registeredKeys_[registeredCount_++] = keyCode;
  indexRegistered(keyCode);
  markLetGo(keyCode, 0);
  return 0;
}

int BindingTable::makeRoomToList() {
  if (registeredCount_ < registeredCapacity_) return 1;
  // Doubling keeps a start-up with many keys linear; the index has twice the slots of the
  // list, so a search always meets a free slot.
  DWORD capacity = registeredCapacity_ == 0 ? 4 : 2 * registeredCapacity_;
  DWORD* keys = new (std::nothrow) DWORD[capacity];
  IndexSlot* index = new (std::nothrow) IndexSlot[2 * capacity];
  if (keys == NULL || index == NULL) {
    delete[] keys;
    delete[] index;
    return 0;
  }
  memset(index, 0, 2 * capacity * sizeof(IndexSlot));
  delete[] registeredIndex_;
  registeredIndex_ = index;
  registeredCapacity_ = capacity;
  for (DWORD i = 0; i < registeredCount_; ++i) {
    keys[i] = registeredKeys_[i];
    indexRegistered(keys[i]);
  }
  delete[] registeredKeys_;
  registeredKeys_ = keys;
  return 1;
}

DWORD BindingTable::indexSlotOf(DWORD keyCode) const {
  DWORD mask = 2 * registeredCapacity_ - 1;
  DWORD slot = firstIndexSlot(keyCode, mask);
  while (registeredIndex_[slot].used && registeredIndex_[slot].keyCode != keyCode) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

void BindingTable::indexRegistered(DWORD keyCode) {
  IndexSlot& slot = registeredIndex_[indexSlotOf(keyCode)];
  slot.keyCode = keyCode;
  slot.used = 1;
}

void BindingTable::unindexRegistered(DWORD keyCode) {
  DWORD mask = 2 * registeredCapacity_ - 1;
  DWORD freed = indexSlotOf(keyCode);
  // A search runs from a key's first slot to the key: a later key of the same run whose
  // first slot does not lie between the freed slot and its own moves into the gap, so that
  // no search stops short there.
  for (DWORD later = (freed + 1) & mask; registeredIndex_[later].used; later = (later + 1) & mask) {
    DWORD first = firstIndexSlot(registeredIndex_[later].keyCode, mask);
    if (((later - first) & mask) >= ((later - freed) & mask)) {
      registeredIndex_[freed] = registeredIndex_[later];
      freed = later;
    }
  }
  registeredIndex_[freed].used = 0;
}

unsigned char BindingTable::markLetGo(DWORD keyCode, unsigned char on) {
  // A key code from 256 on names no key of the keyboard: no key-down of it can be handed back.
  if (keyCode >= 8 * sizeof(letGoKeys_)) return 0;
  unsigned char bit = static_cast<unsigned char>(1u << (keyCode % 8));
  unsigned char& byte = letGoKeys_[keyCode / 8];
  unsigned char was = (byte & bit) != 0;
  byte = static_cast<unsigned char>(on ? byte | bit : byte & ~bit);
  return was;
}

void BindingTable::releaseKey(DWORD keyCode) {
  if (!isRegistered(keyCode)) return;
  UnregisterHotKey(window_, static_cast<int>(keyCode));
  markLetGo(keyCode, 1);
  unindexRegistered(keyCode);
  // Later registrations move up one place: the list keeps the order of registration.
  DWORD place = 0;
  while (registeredKeys_[place] != keyCode) ++place;
  for (; place + 1 < registeredCount_; ++place) registeredKeys_[place] = registeredKeys_[place + 1];
  if (--registeredCount_ > 0) return;
  delete[] registeredKeys_;
  delete[] registeredIndex_;
  registeredKeys_ = NULL;
  registeredIndex_ = NULL;
  registeredCapacity_ = 0;
}

void BindingTable::releaseStrayKeys() {
  // In the order of registration; letting go of a key moves the later ones up.
  for (DWORD i = 0; i < registeredCount_;) {
    DWORD keyCode = registeredKeys_[i];
    if (isHeld(keyCode) || (!disabled_ && firstBinding(keyCode) != NULL)) {
      ++i;
    } else if ((GetAsyncKeyState(static_cast<int>(keyCode)) & 0x8000) && holdKey(keyCode, 1)) {
      // Down and not held: its key-down came here and its message still waits in the
      // queue. It is handed back on release.
      ++i;
    } else {
      letGo(keyCode);
    }
  }
}

unsigned char BindingTable::isRegistered(DWORD keyCode) const {
  return registeredIndex_ != NULL && registeredIndex_[indexSlotOf(keyCode)].used;
}

BindingTable::HeldKey* BindingTable::findHeld(DWORD keyCode) const {
  for (DWORD i = 0; i < heldCount_; ++i) {
    if (heldKeys_[i].keyCode == keyCode) return &heldKeys_[i];
  }
  return NULL;
}

unsigned char BindingTable::isHeld(DWORD keyCode) const { return findHeld(keyCode) != NULL; }

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
    HeldKey held = {keyCode, passOnRelease, 1};
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
  HeldKey held = {keyCode, passOnRelease, 0};
  if (!appendItem(heldKeys_, heldCount_, held)) return 0;
  // Without a timer now, the key's next repeat asks again (see onKeyMessage).
  heldKeys_[heldCount_++].timed = SetTimer(window_, keyCode, checkInterval_, NULL) != 0;
  return 1;
}

void BindingTable::dropHeld(HeldKey* held) {
  *held = heldKeys_[--heldCount_];
  if (heldCount_ == 0) {
    // Nothing held: no memory kept for it either.
    delete[] heldKeys_;
    heldKeys_ = NULL;
  }
}

void BindingTable::letGo(DWORD keyCode) {
  unsigned char timed = 0;
  unsigned char handBack = 0;
  KeyBinding* first = firstBinding(keyCode);
  if (first != NULL && first->pressed()) {
    timed = 1;
    handBack = !first->fired();
  }
  for (DWORD i = 0; i < count_; ++i) {
    if (bindings_[i]->keyCode() == keyCode) bindings_[i]->resetPress();
  }
  HeldKey* held = findHeld(keyCode);
  if (held != NULL) {
    timed |= held->timed;
    handBack |= held->passOnRelease;
    dropHeld(held);
  }
  if (timed) KillTimer(window_, keyCode);
  releaseKey(keyCode);
  if (handBack) injectKey(keyCode);
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
  if (!disabled_) return;
  disabled_ = 0;
  // During a load the choice is only recorded: the load registers when it returns.
  if (!loading_) registerAll();
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
  int failed = load(path);
  if (destroyed_) return;
  if (failed) {
    // Nothing is bound any more: the table says off, as the tray icon and the window will.
    disable();
    return;
  }
  // Switched off during one of the reader's boxes, after the reload was asked for: the new
  // keys stay unregistered. The window learns the state from the load's report.
  if (reloadSwitchesOn_) disabled_ = 0;
  if (!disabled_) registerAll();
}
