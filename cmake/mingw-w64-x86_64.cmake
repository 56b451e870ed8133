# Cross build for 64-bit Windows with Debian's MinGW-w64, POSIX-threads variant (the one the Qt
# toolchain was built with: its libstdc++ and libwinpthread must be the ones that ship).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<Qt for MinGW-w64>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TEMPYRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TEMPYRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TEMPYRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TEMPYRA_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TEMPYRA_MINGW_TRIPLET}-objdump CACHE FILEPATH "")

# Libraries and headers from the cross environment only; programs (moc, uic, rcc, makensis) and
# the Qt package (CMAKE_PREFIX_PATH) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TEMPYRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
