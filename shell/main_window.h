#ifndef KURVIX_SHELL_MAIN_WINDOW_H
#define KURVIX_SHELL_MAIN_WINDOW_H

#include "engine/binding_table.h"

/* Owned by the main window from its creation message to its destroy message. */
extern BindingTable* bindingTable;
/* The virtual-key code of the last WM_KEYDOWN the window received; 0 before any. */
extern DWORD lastKeyCode;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, WinMainCommandLine commandLine,
                   int show);

#endif
