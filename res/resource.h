#ifndef KURVIX_RES_RESOURCE_H
#define KURVIX_RES_RESOURCE_H

/* Plain macros: windres reads this file too. */
#define IDI_APP 101
#define IDI_TRAY_ENABLED 102
#define IDI_TRAY_DISABLED 103

#endif
