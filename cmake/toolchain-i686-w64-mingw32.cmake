# The -posix compilers: the win32-thread ones have no std::mutex for GoogleTest.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KX_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# 32-bit test programs run under Wine's WoW64 where the machine runs 32-bit
# code and wine32 is installed (scripts/test.sh probes for both).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
