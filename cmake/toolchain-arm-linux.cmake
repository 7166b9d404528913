# Cross build for 32-bit ARM Linux with Debian's g++-arm-linux-gnueabi: the device code, the
# simulated device and the tests on the processor family of Windows CE handhelds (ARMv5TE in
# ARM mode, as XScale runs it; char is unsigned, long and pointers are 32 bits). The programs
# run under QEMU's user-mode emulation of an XScale core (PXA270) with the cross
# toolchain's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm")
# -Wno-psabi: GCC notes that GCC 7.1 changed how some arguments are passed; all the code
# here is built by one compiler.
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -Wno-psabi")
set(CMAKE_CROSSCOMPILING_EMULATOR "qemu-arm;-cpu;pxa270;-L;/usr/arm-linux-gnueabi")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
