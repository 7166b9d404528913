#include "engine/key_binding.h"

#include "config/text.h"
#include "res/texts.h"

KeyBinding::KeyBinding()
    : keyCode_(0),
      disableAll_(0),
      command_(NULL),
      newIniPath_(NULL),
      process_(NULL) {
  resetPress();
}

KeyBinding::~KeyBinding() {
  delete[] command_;
  delete[] newIniPath_;
  if (process_ != NULL) CloseHandle(process_);
}

void KeyBinding::resetPress() {
  pressed_ = 0;
  pressTick_ = 0;
  fired_ = 0;
}

void KeyBinding::markPressed() {
  pressTick_ = GetTickCount();
  pressed_ = 1;
}

void KeyBinding::launch() {
  fired_ = 1;
  if (process_ != NULL) {
    // Only a process that has not ended leaves its handle unsignalled; its exit code cannot
    // tell, since a program may end with 259 (STILL_ACTIVE) itself. A wait that fails counts
    // as an ended program: the handle is dropped and the command started anew instead of
    // asking about a ghost.
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      HANDLE asked = process_;
      int answer = MessageBoxW(NULL, TERMINATE_QUESTION, TERMINATE_CAPTION, MB_YESNO | MB_ICONEXCLAMATION);
      // While the question was open, a new press of this key may have dealt with the
      // program already (and started another): the answer is only about the one asked for.
      if (answer == IDYES && process_ == asked) {
        TerminateProcess(process_, 0);
        CloseHandle(process_);
        process_ = NULL;
      }
      return;
    }
    CloseHandle(process_);
    process_ = NULL;
  }
  if (command_ == NULL) return;

  // "\Programme\Word.exe" \Dokumente\Liste.doc: the program between the quotes, the rest
  // as its parameters. Any other command goes whole, so paths with blanks keep working.
  // Without memory for the copy, the command goes whole as well.
  const WCHAR* file = command_;
  const WCHAR* parameters = NULL;
  WCHAR* split = command_[0] == '"' ? duplicateText(command_) : NULL;
  if (split != NULL) splitQuotedCommand(split, &file, &parameters);

  SHELLEXECUTEINFO info;
  memset(&info, 0, sizeof(info));
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = TEXT("Open");
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOW;
  info.hInstApp = GetModuleHandleW(NULL);
  ShellExecuteEx(&info);
  process_ = info.hProcess;
  delete[] split;
}
