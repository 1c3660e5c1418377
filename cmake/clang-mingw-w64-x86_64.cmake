# Cross-compiles the Windows x86-64 build with clang against the mingw-w64 headers and
# libraries, to keep the Windows sources free of GCC-only code.
#
# The posix-threads flavour of the mingw C++ runtime, as in the g++ build: std::thread and
# std::mutex need it (inventory.exe runs probes side by side). clang's driver puts libgcc_eh
# after the user's libraries, and that needs winpthread behind it: -pthread puts winpthread
# into the same group when linking statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

file(GLOB _mingw_gcc_dirs LIST_DIRECTORIES true "/usr/lib/gcc/x86_64-w64-mingw32/*-posix")
list(SORT _mingw_gcc_dirs)
list(POP_BACK _mingw_gcc_dirs MINGW_GCC_DIR)
if(NOT MINGW_GCC_DIR)
  message(FATAL_ERROR "No mingw-w64 g++ (posix threads) found: run scripts/install-deps.sh")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump)

set(CMAKE_CXX_FLAGS_INIT "-isystem ${MINGW_GCC_DIR}/include/c++ -isystem ${MINGW_GCC_DIR}/include/c++/x86_64-w64-mingw32 -isystem ${MINGW_GCC_DIR}/include/c++/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -pthread -L${MINGW_GCC_DIR}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -pthread -L${MINGW_GCC_DIR}")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-exec.sh")
