/*
 * The main window's class, size and layout: the one place the painting code, the taps and
 * start-up take them from, and the tools, tests and page read them.
 *
 * An 18-pixel column at the right edge holds the "D" square (top), the "E" square (below it)
 * and the corner mark (foot); an 18-pixel strip at the bottom holds the contact line. Taps
 * count from 2 pixels left of the drawn separator.
 */
#ifndef KURVIX_SHELL_LAYOUT_H
#define KURVIX_SHELL_LAYOUT_H

#include "platform/platform.h"

const WCHAR CLASS_NAME[] = TEXT("Kurvix.Class");
const int WINDOW_WIDTH = 276;
const int CLIENT_HEIGHT_BELOW_CAPTION = 68;
const LONG COLUMN_WIDTH = 18;
const LONG TAP_COLUMN_WIDTH = 20;
const LONG SQUARE = 18;

#endif
