# 64-bit Windows: the test twin of the 32-bit build, from the same sources, for
# machines whose Wine runs 64-bit programs only.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
