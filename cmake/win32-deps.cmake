enable_language(RC)
# Which mingw architecture this build is for (i686: the product; x86_64: tests under 64-bit Wine).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QX_MINGW_ARCH x86_64)
else()
  set(QX_MINGW_ARCH i686)
endif()
# Product build (i686-w64-mingw32, win32 threads): Crypto++ built from Debian's
# source by scripts/build-cryptopp-mingw.sh, zlib from libz-mingw-w64-dev,
# GoogleTest compiled from /usr/src/googletest.
# The script names its folder after the version of its compiler flags; a
# plain variable, so that a build folder configured before a flags change
# follows it too.
set(QX_CRYPTOPP_SCRIPT "${CMAKE_SOURCE_DIR}/scripts/build-cryptopp-mingw.sh")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${QX_CRYPTOPP_SCRIPT}")
file(STRINGS "${QX_CRYPTOPP_SCRIPT}" QX_CRYPTOPP_FLAGS_LINE REGEX "^FLAGS_VERSION=[0-9]+$")
string(REGEX REPLACE "^FLAGS_VERSION=" "" QX_CRYPTOPP_FLAGS_VERSION "${QX_CRYPTOPP_FLAGS_LINE}")
if(NOT QX_CRYPTOPP_FLAGS_VERSION)
  message(FATAL_ERROR "${QX_CRYPTOPP_SCRIPT} names no FLAGS_VERSION")
endif()
set(QX_CRYPTOPP_DIR
    "${CMAKE_SOURCE_DIR}/.cache/cryptopp-mingw-${QX_MINGW_ARCH}-v${QX_CRYPTOPP_FLAGS_VERSION}")
if(NOT EXISTS "${QX_CRYPTOPP_DIR}/lib/libcryptopp.a")
  message(FATAL_ERROR "Crypto++ for mingw missing in ${QX_CRYPTOPP_DIR}; "
                      "run scripts/build-cryptopp-mingw.sh")
endif()
add_library(qx_cryptopp STATIC IMPORTED)
set_target_properties(qx_cryptopp PROPERTIES
  IMPORTED_LOCATION "${QX_CRYPTOPP_DIR}/lib/libcryptopp.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QX_CRYPTOPP_DIR}/include")
add_library(qx::cryptopp ALIAS qx_cryptopp)

# comctl32 serves only the progress dialog of GUI mode, and loading it maps
# the common controls with their visual styles and fonts (about 5 MB resident
# under Wine). Linked delay-loaded, it is loaded by the first call to it, so a
# silent run never maps it.
find_program(QX_DLLTOOL ${QX_MINGW_ARCH}-w64-mingw32-dlltool REQUIRED)
set(QX_COMCTL32_DELAY "${CMAKE_BINARY_DIR}/delay/libcomctl32-delay.a")
if(QX_MINGW_ARCH STREQUAL "i686")
  # stdcall: the code calls InitCommonControlsEx@4, the DLL exports it undecorated.
  set(QX_COMCTL32_EXPORTS "InitCommonControlsEx@4")
  set(QX_DLLTOOL_FLAGS --kill-at)
else()
  set(QX_COMCTL32_EXPORTS "InitCommonControlsEx")
  set(QX_DLLTOOL_FLAGS "")
endif()
file(WRITE "${CMAKE_BINARY_DIR}/delay/comctl32.def"
     "LIBRARY comctl32.dll\nEXPORTS\n${QX_COMCTL32_EXPORTS}\n")
execute_process(
  COMMAND "${QX_DLLTOOL}" ${QX_DLLTOOL_FLAGS} --input-def "${CMAKE_BINARY_DIR}/delay/comctl32.def"
          --dllname comctl32.dll --output-delaylib "${QX_COMCTL32_DELAY}"
  RESULT_VARIABLE QX_DLLTOOL_RESULT)
if(NOT QX_DLLTOOL_RESULT EQUAL 0)
  message(FATAL_ERROR "${QX_DLLTOOL} could not make ${QX_COMCTL32_DELAY}")
endif()
add_library(qx_comctl32_delay STATIC IMPORTED)
set_target_properties(qx_comctl32_delay PROPERTIES IMPORTED_LOCATION "${QX_COMCTL32_DELAY}")
add_library(qx::comctl32 ALIAS qx_comctl32_delay)

find_library(QX_MINGW_ZLIB NAMES libz.a z REQUIRED)
add_library(qx_zlib STATIC IMPORTED)
set_target_properties(qx_zlib PROPERTIES IMPORTED_LOCATION "${QX_MINGW_ZLIB}")
add_library(qx::zlib ALIAS qx_zlib)

# Everything static: no mingw DLL at run time.
add_compile_options(-D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -DUNICODE -D_UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)
# Every function and datum in a section of its own, so that the linker drops
# what nothing references. It keeps every function that has unwind data (the
# mingw linker scripts keep .pdata and .eh_frame whole), so this removes mostly
# data; what keeps code out is not pulling library objects in at all.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)

set(QX_GTEST_SRC "/usr/src/googletest/googletest")
# The win32-threads compiler has no std::mutex, so GoogleTest is built
# single-threaded. Its death tests need its threading types on Windows, so a
# patched copy of its port header (in the build tree) turns them off.
set(QX_GTEST_INC "${CMAKE_BINARY_DIR}/gtest-include")
file(COPY "${QX_GTEST_SRC}/include/gtest" DESTINATION "${QX_GTEST_INC}")
file(READ "${QX_GTEST_SRC}/include/gtest/internal/gtest-port.h" QX_GTEST_PORT)
string(REPLACE "(GTEST_OS_WINDOWS_DESKTOP && _MSC_VER) || GTEST_OS_WINDOWS_MINGW ||"
               "(GTEST_OS_WINDOWS_DESKTOP && _MSC_VER) ||" QX_GTEST_PORT "${QX_GTEST_PORT}")
file(WRITE "${QX_GTEST_INC}/gtest/internal/gtest-port.h" "${QX_GTEST_PORT}")
add_library(qx_gtest STATIC "${QX_GTEST_SRC}/src/gtest-all.cc")
target_include_directories(qx_gtest SYSTEM PUBLIC "${QX_GTEST_INC}" PRIVATE "${QX_GTEST_SRC}")
target_compile_options(qx_gtest PRIVATE -w)
target_compile_definitions(qx_gtest PUBLIC GTEST_IS_THREADSAFE=0 GTEST_HAS_PTHREAD=0)
add_library(GTest::gtest ALIAS qx_gtest)
add_library(qx_gtest_main STATIC "${QX_GTEST_SRC}/src/gtest_main.cc")
target_link_libraries(qx_gtest_main PUBLIC qx_gtest)
add_library(GTest::gtest_main ALIAS qx_gtest_main)

# Tests of the Windows target run under Wine, in prefixes kept in the build tree.
set(QX_WINE_ROOT "${CMAKE_BINARY_DIR}/wine")
if(QX_MINGW_ARCH STREQUAL "x86_64")
  set(QX_WINE_ARCH win64)
else()
  set(QX_WINE_ARCH win32)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;--root;${QX_WINE_ROOT};--arch;${QX_WINE_ARCH}")
# wine-run.sh exits 77 when this machine cannot run 32-bit programs at all.
set(QX_SKIP_RETURN_CODE 77)
