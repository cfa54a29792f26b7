# Tests of the Windows build that run whole programs under Wine (or, for the
# product image, only inspect it).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(trace_probe "${CMAKE_CURRENT_LIST_DIR}/trace_probe.cc")
target_link_libraries(trace_probe PRIVATE qxcore)

if(QX_MINGW_ARCH STREQUAL "i686")
  add_test(NAME stub_image
           COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/check_stub_image.py"
                   $<TARGET_FILE:Stub> i686-w64-mingw32-objdump)
endif()

set(QX_QXPACK "" CACHE FILEPATH "Host-built qxpack used by the Wine tests")
add_test(NAME wine_programs
         COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/wine_tests.py"
                 --wine-run "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh"
                 --root "${QX_WINE_ROOT}" --arch ${QX_WINE_ARCH}
                 --stub $<TARGET_FILE:Stub> --probe $<TARGET_FILE:trace_probe>
                 --setup-probe $<TARGET_FILE:setup_probe> --fault-runner $<TARGET_FILE:fault_runner>
                 --setup-locker $<TARGET_FILE:setup_locker>
                 --qxpack "${QX_QXPACK}" --keys "${QX_KEYS_DIR}"
                 --work "${CMAKE_CURRENT_BINARY_DIR}/wine-work")
set_tests_properties(wine_programs PROPERTIES SKIP_RETURN_CODE ${QX_SKIP_RETURN_CODE} TIMEOUT 1200)

# The stand-in setup program that the installation tests pack into installers.
add_executable(setup_probe WIN32 "${CMAKE_CURRENT_LIST_DIR}/setup_probe.cc")
target_link_libraries(setup_probe PRIVATE qxsequence shell32 advapi32 user32)
target_link_options(setup_probe PRIVATE -municode -s)

# Holds a workspace's setup.exe against the stub in the installation tests.
add_executable(setup_locker "${CMAKE_CURRENT_LIST_DIR}/setup_locker.cc")
target_include_directories(setup_locker PRIVATE "${CMAKE_SOURCE_DIR}")

# Runs the installation sequence in-process with each platform call failing in turn.
add_executable(fault_runner "${CMAKE_CURRENT_LIST_DIR}/fault_runner.cc")
target_link_libraries(fault_runner PRIVATE qxsequence)
target_link_options(fault_runner PRIVATE -municode)

# The demo product built, verified, unpacked and installed.
add_test(NAME wine_demo COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/demo_tests.py" --wine-run "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh" --root "${QX_WINE_ROOT}" --arch ${QX_WINE_ARCH} --stub $<TARGET_FILE:Stub> --setup $<TARGET_FILE:demo_setup> --qxpack "${QX_QXPACK}" --product "${CMAKE_SOURCE_DIR}/demo/product.json" --work "${CMAKE_CURRENT_BINARY_DIR}/demo-work")
set_tests_properties(wine_demo PROPERTIES SKIP_RETURN_CODE ${QX_SKIP_RETURN_CODE} TIMEOUT 600)

# The log writer: a finished installer's log and a program that traces in loops.
add_executable(trace_loop "${CMAKE_CURRENT_LIST_DIR}/trace_loop.cc")
target_link_libraries(trace_loop PRIVATE qxcore)
add_test(NAME wine_log
         COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/log_tests.py"
                 --wine-run "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh"
                 --root "${QX_WINE_ROOT}" --arch ${QX_WINE_ARCH}
                 --stub $<TARGET_FILE:Stub> --loop $<TARGET_FILE:trace_loop>
                 --qxpack "${QX_QXPACK}" --keys "${QX_KEYS_DIR}"
                 --work "${CMAKE_CURRENT_BINARY_DIR}/wine-work")
# Both Wine suites switch tracing through the same prefix's registry.
set_tests_properties(wine_log PROPERTIES SKIP_RETURN_CODE ${QX_SKIP_RETURN_CODE} TIMEOUT 600
                     RESOURCE_LOCK wine_registry)
set_tests_properties(wine_programs wine_demo PROPERTIES RESOURCE_LOCK wine_registry)
