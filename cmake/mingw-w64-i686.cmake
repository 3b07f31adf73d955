# Cross-build toolchain: 32-bit Windows executables from Linux with mingw-w64.
# This is what ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QM_TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
