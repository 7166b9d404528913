/*
 * One configured key: its key code, the actions of a long press, the state of the press
 * being timed and the program it started last.
 *
 * Press state: idle (pressed 0, fired 0, pressTick 0), timing (pressed 1, fired 0) and
 * fired (pressed 1, fired 1). launch sets fired before it may ask its question, so a
 * tick of the same press delivered while the question is open cannot launch twice.
 */
#ifndef KURVIX_ENGINE_KEY_BINDING_H
#define KURVIX_ENGINE_KEY_BINDING_H

#include "platform/platform.h"

class KeyBinding {
 public:
  KeyBinding();
  ~KeyBinding();

  void resetPress();
  void markPressed();
  void launch();
  /* Applies one key line of a binding block; the configuration reader defines it. */
  void parseLine(const WCHAR* line, DWORD length);

  DWORD keyCode() const { return keyCode_; }
  unsigned char pressed() const { return pressed_; }
  unsigned char fired() const { return fired_; }
  unsigned char disableAll() const { return disableAll_; }
  DWORD pressTick() const { return pressTick_; }
  const WCHAR* command() const { return command_; }
  const WCHAR* newIniPath() const { return newIniPath_; }

 private:
  KeyBinding(const KeyBinding&);
  KeyBinding& operator=(const KeyBinding&);

  DWORD keyCode_;
  unsigned char pressed_;
  unsigned char fired_;
  unsigned char disableAll_;
  DWORD pressTick_;
  WCHAR* command_;
  WCHAR* newIniPath_;
  HANDLE process_;
};

#endif
