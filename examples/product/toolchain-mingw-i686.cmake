# The product's setup program is a 32-bit Windows program, built with
# mingw-w64; linked without a time stamp so that the same sources give the
# same launcher.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -s -Wl,--no-insert-timestamp")
