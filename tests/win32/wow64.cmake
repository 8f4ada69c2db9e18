# SPDX-License-Identifier: MIT
# The x64 driver (mingw64 build) on 64-bit Windows as Wine models it: its
# image format and imports, test signing, and a 64-bit prefix (WINEARCH=win64)
# with the signed driver installed by install-wine.sh, where the unchanged
# 32-bit hosts of the mingw32 build (spifns.dll, the driver's contract checks,
# the end-to-end host, spitool.exe) run through WoW64.
set(SPIFNS_WIN32_BUILD "" CACHE PATH "Build tree of the mingw32 preset (32-bit DLL, test hosts, torvex.sys)")
set(W32 ${SPIFNS_WIN32_BUILD})

add_test(NAME driver64_format COMMAND ${SH}/check_pe.sh ${OBJDUMP} $<TARGET_FILE:torvex> native64)
add_test(NAME driver64_imports COMMAND ${SH}/check_imports.sh ${OBJDUMP} $<TARGET_FILE:torvex> ntoskrnl.exe)

if(NOT W32)
  spifns_test_cannot_run(wow64_tests "SPIFNS_WIN32_BUILD not set: the WoW64 tests are not added")
  return()
endif()
if(NOT HAVE_WINE)
  return()
endif()
set(W32_HOSTS ${W32}/tests/win32/driver_check.exe ${W32}/tests/win32/e2e_host.exe
  ${W32}/tests/win32/spifns.dll ${W32}/src/spitool.exe ${W32}/src/spifns.dll ${W32}/driver/torvex.sys)
add_test(NAME wow64_hosts_built COMMAND sh -c
  "for f; do [ -f \"$f\" ] || { echo \"missing $f: build the mingw32 preset first\"; exit 1; }; done" sh ${W32_HOSTS})
set_tests_properties(wow64_hosts_built PROPERTIES FIXTURES_SETUP wow64_hosts)

# The release archive as a user receives it (runs scripts/release.sh, which
# finds both builds in place here: the mingw32 one and this one).
find_program(OBJDUMP32 i686-w64-mingw32-objdump REQUIRED)
string(REPLACE ";" " " allowed_imports "${SPIFNS_ALLOWED_IMPORTS}")
add_test(NAME release_archive COMMAND ${SH}/check_archive.sh ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/release
  ${OBJDUMP32} ${PROJECT_VERSION} "${allowed_imports}" ${SPIFNS_EXPORTS})
set_tests_properties(release_archive PROPERTIES FIXTURES_REQUIRED wow64_hosts RUN_SERIAL TRUE TIMEOUT 600)

# Both drivers signed with a test certificate made in the build tree; the
# 64-bit prefix gets the signed x64 driver.
find_program(OSSLSIGNCODE_PROGRAM osslsigncode)
find_program(OPENSSL_PROGRAM openssl)
set(WOW64_DRIVER $<TARGET_FILE:torvex>)
set(WOW64_REINSTALL ${PROJECT_SOURCE_DIR}/driver/install.cmd ${WOW64_DRIVER})
if(OSSLSIGNCODE_PROGRAM AND OPENSSL_PROGRAM)
  set(SIGNED ${CMAKE_CURRENT_BINARY_DIR}/signed)
  set(TEST_CERT ${CMAKE_CURRENT_BINARY_DIR}/test-cert)
  add_test(NAME drivers_sign COMMAND sh -c "rm -rf \"$1\" \"$2\" && shift 2 && exec \"$@\"" sh ${TEST_CERT} ${SIGNED}
    ${PROJECT_SOURCE_DIR}/scripts/sign-driver.sh -c ${TEST_CERT} -o ${SIGNED}
    ${W32}/driver/torvex.sys $<TARGET_FILE:torvex>)
  add_test(NAME drivers_signature
    COMMAND ${SH}/check_signature.sh ${TEST_CERT}/torvex-test.crt ${SIGNED}/torvex.sys ${SIGNED}/torvex64.sys)
  set_tests_properties(drivers_sign PROPERTIES FIXTURES_SETUP signed_drivers FIXTURES_REQUIRED wow64_hosts)
  set_tests_properties(drivers_signature PROPERTIES FIXTURES_REQUIRED signed_drivers)
  set(WOW64_DRIVER ${SIGNED}/torvex64.sys)
  # The signed folder holds both drivers and install.cmd, which picks the
  # one for the machine when none is named.
  set(WOW64_REINSTALL ${SIGNED}/install.cmd)
else()
  spifns_test_cannot_run(drivers_signature
    "osslsigncode or openssl not found: the drivers are not signed, and the WoW64 prefix gets the unsigned one")
endif()

# One 64-bit prefix for the whole suite.
set(WOW64_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/wine-wow64)
add_test(NAME wow64_setup
  COMMAND ${CMAKE_COMMAND} -E env WINEARCH=win64 TORVEX_INSTALL_WINE=${PROJECT_SOURCE_DIR}/driver/install-wine.sh
          ${SH}/wine_prefix.sh setup ${WOW64_PREFIX} ${WOW64_DRIVER} ${TORVEX_PARAMETERS})
add_test(NAME wow64_teardown COMMAND ${SH}/wine_prefix.sh teardown ${WOW64_PREFIX})
set_tests_properties(wow64_setup PROPERTIES FIXTURES_SETUP wow64 FIXTURES_REQUIRED "wow64_hosts;signed_drivers" TIMEOUT 180)
set_tests_properties(wow64_teardown PROPERTIES FIXTURES_CLEANUP wow64 TIMEOUT 60)

add_test(NAME wow64_driver_check COMMAND ${SH}/wine_prefix.sh run ${WOW64_PREFIX} ${W32}/tests/win32/driver_check.exe)
add_test(NAME wow64_e2e_host COMMAND ${SH}/wine_prefix.sh run ${WOW64_PREFIX} ${W32}/tests/win32/e2e_host.exe)
add_test(NAME wow64_spitool
  COMMAND sh ${PROJECT_SOURCE_DIR}/tests/tool/wine_spitool.sh ${SH}/wine_prefix.sh ${WOW64_PREFIX} ${W32}/src/spitool.exe)
# install.cmd, run from the 32-bit cmd.exe, reruns itself in the 64-bit one
# and refuses the 32-bit driver on this machine before changing anything.
add_rejection(wow64_install_refuses_x86_driver
  "install: torvex.sys is the x86 driver; this machine needs the AMD64 one \\(torvex64.sys\\)"
  ${SH}/wine_prefix.sh run ${WOW64_PREFIX} cmd /c ${PROJECT_SOURCE_DIR}/driver/install.cmd ${W32}/driver/torvex.sys)
set(WOW64_TESTS wow64_driver_check wow64_e2e_host wow64_spitool wow64_install_refuses_x86_driver)
# They steer the same simulated boards: one at a time.
set_tests_properties(${WOW64_TESTS} PROPERTIES FIXTURES_REQUIRED wow64 RESOURCE_LOCK wow64_boards
  TIMEOUT 120 WORKING_DIRECTORY ${W32}/tests/win32)
# Then, in this order: the driver stops and leaves no device behind; it is
# uninstalled and installed again with the hardware back end, whose checks
# make no play request (that would reach real I/O ports).
add_test(NAME wow64_driver_unload COMMAND ${SH}/driver_unload.sh ${WOW64_PREFIX} ${W32}/tests/win32/driver_check.exe)
add_test(NAME wow64_reinstall_hardware
  COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${WOW64_PREFIX} WINEDEBUG=-all
          sh -c "\"$1\" && shift && exec wine cmd /c \"$@\" </dev/null" sh
          ${PROJECT_SOURCE_DIR}/driver/uninstall-wine.sh ${WOW64_REINSTALL} ${TORVEX_HW_PARAMETERS})
add_test(NAME wow64_driver_hardware_config
  COMMAND ${SH}/wine_prefix.sh run ${WOW64_PREFIX} ${W32}/tests/win32/driver_check.exe hardware no-port-io)
set_tests_properties(wow64_driver_unload wow64_reinstall_hardware wow64_driver_hardware_config PROPERTIES
  FIXTURES_REQUIRED wow64 RESOURCE_LOCK wow64_boards TIMEOUT 60)
set_tests_properties(wow64_driver_unload PROPERTIES DEPENDS "${WOW64_TESTS}")
set_tests_properties(wow64_reinstall_hardware PROPERTIES DEPENDS wow64_driver_unload
  PASS_REGULAR_EXPRESSION "install: torvex started \\(torvex64.sys\\)")
set_tests_properties(wow64_driver_hardware_config PROPERTIES DEPENDS wow64_reinstall_hardware)
