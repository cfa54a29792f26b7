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

# The stand-in setup program that the installation tests pack into installers.
add_executable(setup_probe WIN32 "${CMAKE_CURRENT_LIST_DIR}/setup_probe.cc")
target_link_libraries(setup_probe PRIVATE qxsequence shell32 advapi32 user32)
target_link_options(setup_probe PRIVATE -municode -s)

# Holds a workspace's setup.exe against the stub in the installation tests.
add_executable(setup_locker "${CMAKE_CURRENT_LIST_DIR}/setup_locker.cc")
target_include_directories(setup_locker PRIVATE "${CMAKE_SOURCE_DIR}")

# Renames each new workspace away and plants its own, as fast as it can.
add_executable(workspace_racer "${CMAKE_CURRENT_LIST_DIR}/workspace_racer.cc")
target_link_options(workspace_racer PRIVATE -municode)

# Runs the installation sequence in-process with each platform call failing in turn.
add_executable(fault_runner "${CMAKE_CURRENT_LIST_DIR}/fault_runner.cc")
target_link_libraries(fault_runner PRIVATE qxsequence)
target_link_options(fault_runner PRIVATE -municode)

# The log writer: a program that traces in loops.
add_executable(trace_loop "${CMAKE_CURRENT_LIST_DIR}/trace_loop.cc")
target_link_libraries(trace_loop PRIVATE qxcore)

set(QX_QXPACK "" CACHE FILEPATH "Host-built qxpack used by the Wine tests")
# The setup probe of the other bitness (the other preset's build): the stub
# must start a setup program of either bitness that the system can run.
if(QX_MINGW_ARCH STREQUAL "i686")
  set(QX_OTHER_SETUP_PROBE "${CMAKE_SOURCE_DIR}/build/win64/tests/setup_probe.exe")
else()
  set(QX_OTHER_SETUP_PROBE "${CMAKE_SOURCE_DIR}/build/win32/tests/setup_probe.exe")
endif()

# The configurations the Windows programs run in, one row each:
#   NAME  PREFIX  WINDOWS-VERSION  SUITES
# The shipped i686 build runs on 32-bit Windows 10 and XP and under WoW64 on
# 64-bit Windows 10 and XP; the x86_64 build is a 64-bit process. "full" runs
# every suite; "system" runs the unit tests and the installer cases that
# depend on bitness or version (WindowsSystemTest in wine_tests.py). The full
# suites run under WoW64, the most common deployment, and in the x86_64 build,
# the only one where 32-bit programs cannot run.
if(QX_MINGW_ARCH STREQUAL "i686")
  set(QX_WINE_CONFIGS "wow64 win64 win10 full" "win32 win32 win10 system"
                      "win32-xp win32 winxp system" "wow64-xp win64 winxp64 system")
else()
  set(QX_WINE_CONFIGS "win64 win64 win10 full")
endif()

set(QX_WINE_RUN "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
foreach(row IN LISTS QX_WINE_CONFIGS)
  separate_arguments(row)
  list(GET row 0 cfg)
  list(GET row 1 arch)
  list(GET row 2 winver)
  list(GET row 3 suites)
  set(where --wine-run "${QX_WINE_RUN}" --root "${QX_WINE_ROOT}" --arch ${arch} --winver ${winver})
  set(tests unit_${cfg} wine_programs_${cfg})

  add_test(NAME unit_${cfg} COMMAND "${QX_WINE_RUN}" --root "${QX_WINE_ROOT}" --arch ${arch}
                                    --winver ${winver} $<TARGET_FILE:qx_unit_tests>)
  set(only_system "")
  if(suites STREQUAL "system")
    set(only_system WindowsSystemTest)
  endif()
  add_test(NAME wine_programs_${cfg}
           COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/wine_tests.py" ${where}
                   --stub $<TARGET_FILE:Stub> --probe $<TARGET_FILE:trace_probe>
                   --setup-probe $<TARGET_FILE:setup_probe> --fault-runner $<TARGET_FILE:fault_runner>
                   --setup-locker $<TARGET_FILE:setup_locker> --other-setup-probe "${QX_OTHER_SETUP_PROBE}"
                   --racer $<TARGET_FILE:workspace_racer>
                   --qxpack "${QX_QXPACK}" --keys "${QX_KEYS_DIR}"
                   --work "${CMAKE_CURRENT_BINARY_DIR}/wine-work-${cfg}" ${only_system})
  set_tests_properties(wine_programs_${cfg} PROPERTIES TIMEOUT 1200)

  if(suites STREQUAL "full")
    # The demo product built, verified, unpacked and installed.
    add_test(NAME wine_demo_${cfg}
             COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/demo_tests.py" ${where}
                     --stub $<TARGET_FILE:Stub> --setup $<TARGET_FILE:demo_setup> --qxpack "${QX_QXPACK}"
                     --product "${CMAKE_SOURCE_DIR}/demo/product.json"
                     --work "${CMAKE_CURRENT_BINARY_DIR}/demo-work-${cfg}")
    # The log writer: a finished installer's log and a program that traces in loops.
    add_test(NAME wine_log_${cfg}
             COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/log_tests.py" ${where}
                     --stub $<TARGET_FILE:Stub> --loop $<TARGET_FILE:trace_loop>
                     --qxpack "${QX_QXPACK}" --keys "${QX_KEYS_DIR}"
                     --work "${CMAKE_CURRENT_BINARY_DIR}/wine-work-${cfg}")
    # Installers signed through a PKCS #11 token (SoftHSM2), installed.
    add_test(NAME wine_pkcs11_${cfg}
             COMMAND ${Python3_EXECUTABLE} "${CMAKE_SOURCE_DIR}/tests/tools/qxpack_pkcs11_test.py" ${where}
                     --stub $<TARGET_FILE:Stub> --setup-probe $<TARGET_FILE:setup_probe>
                     --qxpack "${QX_QXPACK}" --keys "${QX_KEYS_DIR}"
                     --work "${CMAKE_CURRENT_BINARY_DIR}/pkcs11-work-${cfg}")
    set_tests_properties(wine_demo_${cfg} wine_log_${cfg} wine_pkcs11_${cfg} PROPERTIES TIMEOUT 600)
    list(APPEND tests wine_demo_${cfg} wine_log_${cfg} wine_pkcs11_${cfg})
    if(QX_MINGW_ARCH STREQUAL "i686")
      # The Debian package (scripts/package.sh), extracted and used on its own.
      add_test(NAME package_${cfg}
               COMMAND ${Python3_EXECUTABLE} "${CMAKE_SOURCE_DIR}/tests/tools/package_test.py" ${where}
                       --source "${CMAKE_SOURCE_DIR}" --setup-probe $<TARGET_FILE:setup_probe>
                       --work "${CMAKE_CURRENT_BINARY_DIR}/package-work-${cfg}")
      set_tests_properties(package_${cfg} PROPERTIES TIMEOUT 900)
      list(APPEND tests package_${cfg})
    endif()
  endif()
  # The suites of one configuration share its prefix and its registry.
  set_tests_properties(${tests} PROPERTIES SKIP_RETURN_CODE ${QX_SKIP_RETURN_CODE}
                       RESOURCE_LOCK wine_${arch}_${winver} LABELS "wine;${cfg}")
endforeach()
