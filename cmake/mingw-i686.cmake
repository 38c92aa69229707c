# Cross-build for 32-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-i686). The posix thread model, because GoogleTest needs
# std::mutex, which GCC 12's win32 model lacks; with the runtime linked
# statically (libwinpthread included) the DLL and the test programs still
# import nothing but system DLLs. Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QVORK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QVORK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVORK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QVORK_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QVORK_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QVORK_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${QVORK_MINGW_TRIPLET}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QVORK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL carries its own C++ runtime and libgcc.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest in a Windows build folder runs the test programs under Wine, in a
# Wine prefix of qVORK's own (see the script).
get_filename_component(QVORK_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${QVORK_WINE_RUN}")
