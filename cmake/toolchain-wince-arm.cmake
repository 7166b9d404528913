# Windows CE 4.2 on ARM. This route needs Windows, Visual Studio 2005 or 2008 with Smart
# Device support and a Windows CE SDK that targets 4.2 (ARMV4 or ARMV4I); it cannot run
# on Linux. From a Visual Studio command prompt:
#
#   cmake -S . -B build-wince -G "Visual Studio 9 2008" -A "STANDARDSDK_420 (ARMV4)" ^
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-wince-arm.cmake
#   cmake --build build-wince --config MinSizeRel
#
# Put the name of the installed SDK platform after -A. The SDK's compiler defines
# _WIN32_WCE, which platform/platform.h uses; its headers bring KEYEVENTF_SILENT and the
# wide WinMain. Everything links against coredll.
set(CMAKE_SYSTEM_NAME WindowsCE)
set(CMAKE_SYSTEM_VERSION 4.20)
set(CMAKE_SYSTEM_PROCESSOR ARMV4)
