# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads variant).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZUL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(ZUL_MINGW_CXX ${ZUL_MINGW_PREFIX}-g++-posix)
find_program(ZUL_MINGW_CC ${ZUL_MINGW_PREFIX}-gcc-posix)
find_program(ZUL_MINGW_WINDRES ${ZUL_MINGW_PREFIX}-windres)
if(NOT ZUL_MINGW_CXX OR NOT ZUL_MINGW_CC)
  message(FATAL_ERROR "mingw-w64 compilers not found: install g++-mingw-w64-x86-64-posix")
endif()

set(CMAKE_C_COMPILER ${ZUL_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ZUL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ZUL_MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${ZUL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program (the tool, the tests, the helpers) links libstdc++, libgcc and winpthread
# statically so that it runs with no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
