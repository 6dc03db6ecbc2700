# Cross build for 64-bit Windows with the mingw-w64 compiler:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DBUILD_TESTING=OFF
# The -posix variant, so std::mutex and std::thread exist should any code use
# them. Static linking and the C99 printf formats are set for every mingw
# build in the top CMakeLists.txt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVS_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
