# The Windows CE route configured on Linux with a stand-in compiler that is never run
# (its identity is given, as the Visual Studio 2008 compiler for Windows CE: MSVC 15.0),
# then the generated build is read: it must hold the device program alone, compiled with
# the Windows CE definitions and linked for the Windows CE subsystem against coredll,
# with none of the desktop build's MinGW options or libraries.
#
#   cmake -DSOURCE_DIR=... -DBUILD_DIR=... -P wince_route.cmake
file(REMOVE_RECURSE "${BUILD_DIR}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${BUILD_DIR}" -G "Unix Makefiles"
          "-DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/toolchain-wince-arm.cmake"
          -DCMAKE_BUILD_TYPE=MinSizeRel
          -DCMAKE_CXX_COMPILER=/bin/true -DCMAKE_RC_COMPILER=/bin/true
          -DCMAKE_CXX_COMPILER_ID=MSVC -DCMAKE_CXX_COMPILER_VERSION=15.0.30729.1
          -DMSVC_CXX_ARCHITECTURE_ID=ARMV4I
          -DCMAKE_CXX_COMPILER_ID_RUN=1 -DCMAKE_CXX_COMPILER_FORCED=1
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the Windows CE route does not configure:\n${output}")
endif()

set(failures "")
# contains(TEXT PIECE WANTED WHAT): WANTED is TRUE when PIECE must be in TEXT, FALSE when not.
function(contains text piece wanted what)
  string(FIND "${text}" "${piece}" at)
  if(at EQUAL -1)
    set(found FALSE)
  else()
    set(found TRUE)
  endif()
  if(NOT found STREQUAL wanted)
    set(failures "${failures}\n  ${what}" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB targets RELATIVE "${BUILD_DIR}/CMakeFiles" "${BUILD_DIR}/CMakeFiles/*.dir")
if(NOT targets STREQUAL "kurvix.dir")
  string(APPEND failures "\n  only kurvix is built, not: ${targets}")
endif()

set(dir "${BUILD_DIR}/CMakeFiles/kurvix.dir")
file(READ "${dir}/flags.make" flags)
file(READ "${dir}/link.txt" link)
file(READ "${dir}/build.make" rules)
foreach(definition /D_WIN32_WCE=0x420 /DUNDER_CE -DUNICODE)
  contains("${flags}" "${definition}" TRUE "compiled with ${definition}")
endforeach()
foreach(option /subsystem:windowsce coredll.lib)
  contains("${link}" "${option}" TRUE "linked with ${option}")
endforeach()
foreach(desktop shell32 -static " -s " --gc-sections -std=c++98 -ffunction-sections)
  contains("${flags}${link}" "${desktop}" FALSE "no desktop option '${desktop}'")
endforeach()
foreach(source config/reader.cpp engine/press_handling.cpp shell/winmain.cpp res/kurvix.rc)
  contains("${rules}" "${source}" TRUE "builds ${source}")
endforeach()
contains("${rules}" platform/mingw/ FALSE "no MinGW allocation functions")

if(failures)
  message(FATAL_ERROR "the Windows CE build is not what the device needs:${failures}")
endif()
