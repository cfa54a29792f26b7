# Host build: Debian's libcrypto++-dev and zlib1g-dev.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CRYPTOPP REQUIRED IMPORTED_TARGET libcrypto++)
add_library(qx::cryptopp ALIAS PkgConfig::CRYPTOPP)
find_package(ZLIB REQUIRED)
add_library(qx::zlib ALIAS ZLIB::ZLIB)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

if(QX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
