# kurvix.exe for Windows: the device sources as C++98 against the system's own headers,
# with the icon resources. Included by the top-level CMakeLists.txt on a Windows target.
enable_language(RC)

add_executable(kurvix WIN32 ${KURVIX_DEVICE_SOURCES} ${KURVIX_SHELL_SOURCES} res/kurvix.rc)
target_include_directories(kurvix PRIVATE ${CMAKE_SOURCE_DIR})
configure_file(res/version.h.in ${CMAKE_BINARY_DIR}/res/version.h @ONLY)
set_source_files_properties(res/kurvix.rc PROPERTIES INCLUDE_DIRECTORIES
                            "${CMAKE_SOURCE_DIR}/res;${CMAKE_BINARY_DIR}/res")
# Generic names (ShellExecuteEx, NOTIFYICONDATA, WNDCLASS) must mean the wide versions.
target_compile_definitions(kurvix PRIVATE UNICODE _UNICODE KURVIX_CONTACT="${KURVIX_CONTACT}")

if(CMAKE_SYSTEM_NAME STREQUAL "WindowsCE")
  # The Windows CE SDK's compiler brings its own options and libraries.
  target_link_libraries(kurvix PRIVATE coredll)
else()
  target_sources(kurvix PRIVATE platform/mingw/memory.cpp)
  target_compile_options(kurvix PRIVATE -std=c++98 ${KURVIX_DEVICE_FLAGS} -Os
                         -ffunction-sections -fdata-sections)
  # Nothing beyond the system's own DLLs: the compiler's runtime is linked in.
  target_link_options(kurvix PRIVATE -s -static -static-libgcc -static-libstdc++
                      -Wl,--gc-sections)
  target_link_libraries(kurvix PRIVATE shell32)
endif()

# The end-to-end helpers and the Windows benchmarks are desktop programs (C++17, MinGW
# options) that no Windows CE compiler builds: the device route builds kurvix.exe alone.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "WindowsCE")
  add_subdirectory(tests/e2e)
  add_subdirectory(bench/windows)
endif()
