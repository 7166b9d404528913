# The device program's version, its default contact text and its sources, written once:
# CMakeLists.txt reads this file for every CMake build, ce/build-ce.mk includes it for the
# Windows CE build, and ce/version_header.py takes the version and contact from it. Plain
# "NAME = words" lines; a list may go on after a backslash at the end of a line.

KURVIX_VERSION = 1.2.0
# Shown after "Kontakt: " in the status window and in the version resource; a build may
# give another (the CMake option KURVIX_CONTACT, or KURVIX_CONTACT=... ce/build-ce.sh).
KURVIX_DEFAULT_CONTACT = kurvix@example.org

# The portable device code, and the window and notification icon that need the platform.
KURVIX_DEVICE_SOURCES = config/text.cpp config/reader.cpp engine/key_binding.cpp \
  engine/binding_table.cpp engine/press_handling.cpp
KURVIX_SHELL_SOURCES = shell/tray_icon.cpp shell/main_window.cpp shell/winmain.cpp
