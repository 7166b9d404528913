/*
 * The bindings in configuration order, the two timing settings, the window that owns
 * every key registration and poll timer, and the on/off switch of all bindings.
 *
 * Re-entrancy. A modal message box (a question of launch, a message of the reader) runs
 * its own message loop, so press handling, the window's taps and even the window's
 * destruction can run while a table operation waits in a box. Every operation that can open
 * a box runs inside a BoxScope. Nothing that deletes bindings may run underneath it: a
 * reload asked for meanwhile is remembered (the latest wins) and carried out when the
 * outermost scope ends, and a table destroyed meanwhile lets go of its keys and timers at
 * once but is freed only by its owner, with freeIfDestroyed, once no scope is open: the
 * table never deletes itself. The rules for each event in each state are a table in
 * docs/design.md.
 *
 * Loading. While a file is read, none of its keys is registered: D and E only record the
 * user's last choice, and the load registers the keys when it returns if the bindings are
 * on then. The only keys registered during a load are held ones.
 *
 * Held keys. A key stays down for seconds and repeats its key-down meanwhile. When the
 * bindings go off or are replaced by a reload while a key is pressed, the press leaves its
 * binding and the table holds the key: registered, so that its repeats are swallowed, and
 * polled by its timer, so that its release is seen. Such a press acts no more and starts no
 * new press; on its release the key is handed through if the press never acted, and then
 * stays registered for an enabled binding of it or is let go. So one physical press acts at
 * most once, and while the bindings are off no key is registered but the ones held now.
 * A key that is already down when the table registers it (pressed while off, or before a
 * reload bound it) is held the same way from the start: its key-down went elsewhere, so
 * none of its repeats may begin a press.
 *
 * Registrations. The table lists every key it has registered itself. That list alone tells
 * a key another program holds (reported in a message box) from one the table holds already
 * (a held key, a second binding of a key, a key registered again while a box was open):
 * every registration belongs to a binding in force or to a key held right now.
 *
 * Caught key-downs. A key registered now whose key is down went to this table: when it is let
 * go before its key message was handled (the bindings went off, a reload began), it is held
 * instead and handed back on release. A key message that arrives after its key was let go
 * (the key was up again by then) is handed back too: the table marks every key it lets go
 * until it registers it again, whatever the bindings say of it meanwhile. A key held while no
 * timer is free keeps being held, untimed, and asks for its timer again at each of its
 * repeats, so none of them starts a press.
 */
#ifndef KURVIX_ENGINE_BINDING_TABLE_H
#define KURVIX_ENGINE_BINDING_TABLE_H

#include "engine/key_binding.h"

const UINT WM_APP_STATUS = WM_APP + 2;
const WPARAM STATUS_ENABLED = 0;
const WPARAM STATUS_DISABLED = 1;
const WPARAM STATUS_LOADED = 2;

class BindingTable {
 public:
  /* Makes a table, publishes it in `owner` before it loads (so that the window's key and
     timer messages reach it from its first registration on, and a window closed while a box
     is open can destroy it), loads the configuration and registers its keys. Returns the
     table, or null when loading failed or the table was destroyed meanwhile (`owner` is then
     null too, and the table freed). */
  static BindingTable* create(HWND window, HINSTANCE instance, UINT statusMessage,
                              BindingTable*& owner);
  /* Frees the table, or, while one of its operations waits in a box, lets go of every key
     and timer now and leaves the freeing to freeIfDestroyed. */
  static void destroy(BindingTable* table);
  /* The owner's part after every call that can open a box: frees a table destroyed meanwhile
     once no operation of it waits in a box any more. */
  static void freeIfDestroyed(BindingTable* table);

  BindingTable();
  ~BindingTable();

  void resetSettings();
  void clear();
  void append(KeyBinding* binding);
  DWORD count() const { return count_; }
  unsigned char isDisabled() const { return disabled_; }
  DWORD checkInterval() const { return checkInterval_; }
  DWORD elapseTime() const { return elapseTime_; }
  /* The binding at position index (0 to count - 1), in configuration order. */
  const KeyBinding* binding(DWORD index) const { return bindings_[index]; }
  /* Registers the keys of all bindings, but for keys held from an earlier press: those are
     registered already. */
  void registerAll();
  /* 1 while the table holds the key of a press that went off or was reloaded meanwhile. */
  unsigned char isHeld(DWORD keyCode) const;
  /* 1 while the table has the key registered. */
  unsigned char isRegistered(DWORD keyCode) const;
  void disable();
  void enable();

  /* Configuration reader. */
  int loadFromProgramDir(HINSTANCE instance);
  int load(const WCHAR* path);
  /* 1 while a file is being read into the table. */
  unsigned char isLoading() const { return loading_; }
  void parseSettingsLine(const WCHAR* line, DWORD length);

  /* Press handling. */
  LRESULT onKeyMessage(WPARAM id, LPARAM lParam);
  LRESULT onTimer(WPARAM id);

 private:
  BindingTable(const BindingTable&);
  BindingTable& operator=(const BindingTable&);

  struct HeldKey {
    DWORD keyCode;
    unsigned char passOnRelease;  // the press has not acted: hand the key through on release
    unsigned char timed;          // its poll timer runs; if not, its next repeat asks again
  };

  /* Brackets an operation that can open a message box. The outermost scope's end carries out
     a reload asked for meanwhile, unless the table was destroyed. */
  class BoxScope {
   public:
    explicit BoxScope(BindingTable& table);
    ~BoxScope();

   private:
    BoxScope(const BoxScope&);
    BoxScope& operator=(const BoxScope&);
    BindingTable& table_;
  };
  friend class BoxScope;

  void postStatus(WPARAM status, LPARAM value);
  /* The reader's work for load, which marks the table as loading around it. */
  int readFile(const WCHAR* path);
  /* The one place that registers and unregisters keys and keeps the list of them. catchKey
     takes a key the table has not registered; it returns 0 when the key is registered by this
     table now (or could not be listed, and is then let go), 1 when another program holds it. */
  int catchKey(DWORD keyCode);
  void releaseKey(DWORD keyCode);
  /* Room for one more key in the list of registered keys and its index; 0 without memory. */
  int makeRoomToList();
  /* The index slot that holds the key code, or the free slot where its search ends. */
  DWORD indexSlotOf(DWORD keyCode) const;
  void indexRegistered(DWORD keyCode);
  void unindexRegistered(DWORD keyCode);
  /* Marks a key let go (on) or registered again (off); 1 when it was marked. */
  unsigned char markLetGo(DWORD keyCode, unsigned char on);
  /* Lets go of every registered key that no binding in force and no held key needs. */
  void releaseStrayKeys();
  /* Holds a key that is down now, polled if a timer is free; 0 without memory to hold it. */
  int holdKey(DWORD keyCode, unsigned char passOnRelease);
  HeldKey* findHeld(DWORD keyCode) const;
  /* Ends the holding of a key; its timer and registration are the caller's. */
  void dropHeld(HeldKey* held);
  /* Asks again for the poll timers the system refused to held keys. */
  void askForRefusedTimers();
  /* Lets go of a key and ends everything it had: the press of every binding of it, its held
     state, its poll timer and its registration; a caught key-down that has not acted is
     handed back to the program in front. */
  void letGo(DWORD keyCode);
  /* One silent key-down and one key-up of the key, for the program in front. */
  void injectKey(DWORD keyCode);
  /* A key message of a key the table let go of since: the key goes to the program in front. */
  void handBackLatePress(DWORD keyCode);
  /* The first binding of the key in table order, or null: the one whose press ticks reach. */
  KeyBinding* firstBinding(DWORD keyCode) const;
  void holdPressedKeys();
  void onHeldKeyTimer(DWORD index);
  void deleteBindings();
  void requestReload(const WCHAR* path);
  void reload(const WCHAR* path);
  void releaseKeysAndTimers();
  /* Registers the key of the binding at index; a key that another program holds is
     reported in a message box. Returns 1 when registering must stop: while the box was open
     the bindings were switched off, a reload that replaces them was asked for, or the table
     was destroyed (and perhaps freed). */
  int registerKey(DWORD index);

  KeyBinding** bindings_;
  DWORD checkInterval_;
  DWORD elapseTime_;
  DWORD count_;
  UINT statusMessage_;
  HWND window_;
  unsigned char disabled_;

  HeldKey* heldKeys_;
  DWORD heldCount_;
  /* The keys the table registered, in the order of registration, and an index of them that
     finds any key code at once (open addressing, twice as many slots as the list has room). */
  struct IndexSlot {
    DWORD keyCode;
    unsigned char used;
  };
  DWORD* registeredKeys_;
  DWORD registeredCount_;
  DWORD registeredCapacity_;
  IndexSlot* registeredIndex_;
  /* One bit for each key code below 256 the table let go of and has not registered again:
     a key message of it still in the queue is a key-down it caught. */
  unsigned char letGoKeys_[32];

  unsigned boxDepth_;       // BoxScopes open now
  unsigned char loading_;  // a file is being read: none of its keys may be registered
  WCHAR* pendingReload_;
  /* The reload asked for last switches the bindings on, unless they were switched off after
     it was asked for: the user's last action wins. */
  unsigned char reloadSwitchesOn_;
  unsigned char destroyed_;
};

#endif
