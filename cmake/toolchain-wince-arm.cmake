# Windows CE 4.2 on ARM. This route needs Windows, Visual Studio 2005 or 2008 with Smart
# Device support and a Windows CE SDK that targets 4.2 (ARMV4 or ARMV4I). Two ways work:
#
# 1. Visual Studio 2008 projects, with CMake 3.20 to 3.29 (CMake 3.30 removed the
#    "Visual Studio 9 2008" generator; 3.12 had already removed the 2005 one):
#
#      cmake -S . -B build-wince -G "Visual Studio 9 2008" -A "STANDARDSDK_420 (ARMV4)" ^
#            -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-wince-arm.cmake
#      cmake --build build-wince --config MinSizeRel
#
#    Put the name of the installed SDK platform after -A.
#
# 2. NMake, with any CMake from 3.20 on, from a command prompt in which the SDK's ARM
#    compiler (cl.exe), its rc.exe and link.exe are on PATH and INCLUDE and LIB name the
#    SDK's include and lib folders for the processor:
#
#      cmake -S . -B build-wince -G "NMake Makefiles" -DCMAKE_BUILD_TYPE=MinSizeRel ^
#            -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-wince-arm.cmake
#      cmake --build build-wince
#
# On this route only kurvix.exe is built (the end-to-end helpers and benchmarks are
# desktop programs). CMake adds /D_WIN32_WCE=0x420 /DUNDER_CE /DWINCE and links with
# /subsystem:windowsce against coredll; platform/platform.h uses _WIN32_WCE, and the SDK's
# headers bring KEYEVENTF_SILENT and the wide WinMain.
set(CMAKE_SYSTEM_NAME WindowsCE)
set(CMAKE_SYSTEM_VERSION 4.20)
set(CMAKE_SYSTEM_PROCESSOR ARMV4)
