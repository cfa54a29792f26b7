# The same Windows code for x86_64-w64-mingw32, so its tests also run under
# 64-bit Wine.
set(QX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
