# SPDX-License-Identifier: MIT
# What every test directory shares.

# A test that cannot run here (a program or an input missing) stays in the
# run as a test that skips, or fails where CI is set (cannot_run.sh),
# instead of being left out when configuring.
#   spifns_test_cannot_run(<test name> <reason>...)
function(spifns_test_cannot_run name)
  string(JOIN " " reason ${ARGN})
  message(WARNING "${name} cannot run: ${reason}")
  add_test(NAME ${name} COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/cannot_run.sh "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
