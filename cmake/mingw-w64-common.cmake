# Shared by the two cross-build toolchain files; they set QM_TOOLCHAIN_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first. The posix thread model is needed for std::mutex
# and std::thread, which GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${QM_TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QM_TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
