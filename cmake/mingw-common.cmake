# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# lacks. Linked statically, its thread library adds no DLL.
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (gflags) are found through <Pkg>_DIR hints that lie outside the root path.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# No MinGW runtime DLLs beside the exe: it must start on a clean Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
# Windows test programs run under Wine (the prefix is set per test), through
# its 64-bit loader: /usr/bin/wine tries the 32-bit loader first wherever
# wine32 is installed, and a 32-bit start may cost a minute (README). The
# 32-bit build's own programs are not run as tests.
set(VT_WINE64 /usr/lib/wine/wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VT_WINE64})
