# The -posix compilers: the win32-thread ones have no std::mutex for GoogleTest.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KX_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Test executables run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
