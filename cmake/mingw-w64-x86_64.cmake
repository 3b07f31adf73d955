# Cross-build toolchain: 64-bit Windows executables from Linux with mingw-w64.
# Only for testing on machines whose kernel runs no 32-bit programs; the tool
# that ships is the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
