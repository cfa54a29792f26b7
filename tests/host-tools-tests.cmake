# Command-line tests of the packer on the host.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME qxpack_cli
         COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/tools/qxpack_cli_test.py"
                 --qxpack $<TARGET_FILE:qxpack> --keys "${QX_KEYS_DIR}"
                 --work "${CMAKE_CURRENT_BINARY_DIR}/qxpack-work")
set_tests_properties(qxpack_cli PROPERTIES TIMEOUT 600)
# Keys in a PKCS #11 token (SoftHSM2): signing cases and refusals, without
# Wine; installers of keys generated in the token verify with the same qxpack.
add_test(NAME qxpack_pkcs11
         COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/tools/qxpack_pkcs11_test.py"
                 --qxpack $<TARGET_FILE:qxpack> --keys "${QX_KEYS_DIR}"
                 --work "${CMAKE_CURRENT_BINARY_DIR}/qxpack-pkcs11-work")
set_tests_properties(qxpack_pkcs11 PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
# The stub's link: which functions may lose their unwind records.
add_test(NAME prune_link
         COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_LIST_DIR}/tools/prune_link_test.py")
