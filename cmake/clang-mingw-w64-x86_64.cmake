# Cross-compiles the Windows x86-64 build with clang against the mingw-w64 headers and
# libraries, to keep the Windows sources free of GCC-only code.
#
# clang's driver puts libgcc_eh after the user's libraries, so the posix-threads flavour of
# the mingw C++ runtime (which needs winpthread behind libgcc_eh) cannot be linked
# statically; the win32-threads flavour needs nothing more, and no probe starts a thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

file(GLOB _mingw_gcc_dirs LIST_DIRECTORIES true "/usr/lib/gcc/x86_64-w64-mingw32/*-win32")
list(SORT _mingw_gcc_dirs)
list(POP_BACK _mingw_gcc_dirs MINGW_GCC_DIR)
if(NOT MINGW_GCC_DIR)
  message(FATAL_ERROR "No mingw-w64 g++ (win32 threads) found: run scripts/install-deps.sh")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump)

set(CMAKE_CXX_FLAGS_INIT "-isystem ${MINGW_GCC_DIR}/include/c++ -isystem ${MINGW_GCC_DIR}/include/c++/x86_64-w64-mingw32 -isystem ${MINGW_GCC_DIR}/include/c++/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${MINGW_GCC_DIR}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -L${MINGW_GCC_DIR}")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-exec.sh")
