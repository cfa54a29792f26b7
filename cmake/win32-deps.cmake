enable_language(RC)
# Which mingw architecture this build is for (i686: the product; x86_64: tests under 64-bit Wine).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QX_MINGW_ARCH x86_64)
else()
  set(QX_MINGW_ARCH i686)
endif()
# Product build (i686-w64-mingw32, win32 threads): Crypto++ and zlib built
# from Debian's source by scripts/build-cryptopp-mingw.sh and
# scripts/build-zlib-mingw.sh, GoogleTest compiled from /usr/src/googletest.
# Each script names its folder after the version of its compiler flags; a
# plain variable, so that a build folder configured before a flags change
# follows it too.
function(qx_mingw_cache script prefix library out_dir)
  set(path "${CMAKE_SOURCE_DIR}/scripts/${script}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
  file(STRINGS "${path}" line REGEX "^FLAGS_VERSION=[0-9]+$")
  string(REGEX REPLACE "^FLAGS_VERSION=" "" version "${line}")
  if(NOT version)
    message(FATAL_ERROR "${path} names no FLAGS_VERSION")
  endif()
  set(dir "${CMAKE_SOURCE_DIR}/.cache/${prefix}-mingw-${QX_MINGW_ARCH}-v${version}")
  if(NOT EXISTS "${dir}/lib/${library}")
    message(FATAL_ERROR "${prefix} for mingw missing in ${dir}; run scripts/${script}")
  endif()
  set(${out_dir} "${dir}" PARENT_SCOPE)
endfunction()

qx_mingw_cache(build-cryptopp-mingw.sh cryptopp libcryptopp.a QX_CRYPTOPP_DIR)
add_library(qx_cryptopp STATIC IMPORTED)
set_target_properties(qx_cryptopp PROPERTIES
  IMPORTED_LOCATION "${QX_CRYPTOPP_DIR}/lib/libcryptopp.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QX_CRYPTOPP_DIR}/include")
add_library(qx::cryptopp ALIAS qx_cryptopp)

qx_mingw_cache(build-zlib-mingw.sh zlib libz.a QX_ZLIB_DIR)
add_library(qx_zlib STATIC IMPORTED)
set_target_properties(qx_zlib PROPERTIES
  IMPORTED_LOCATION "${QX_ZLIB_DIR}/lib/libz.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QX_ZLIB_DIR}/include")
add_library(qx::zlib ALIAS qx_zlib)

# Everything static: no mingw DLL at run time.
add_compile_options(-D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -DUNICODE -D_UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)
# Every function and datum in a section of its own, so that the linker drops
# what nothing references. The mingw linker scripts keep .pdata and .eh_frame
# whole, and with them every function that has unwind data; for the shipped
# i686 stub, scripts/prune_link.py takes the records of unused functions out
# first (InstallerLogic/CMakeLists.txt).
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
