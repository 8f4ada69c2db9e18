#!/bin/sh
# SPDX-License-Identifier: MIT
# Ends a test that cannot run on this machine: exit 77, which its SKIP_RETURN_CODE
# makes a skip, or, where CI is set (to anything but "", "0" or "false"),
# exit 1, so that a CI run never passes with a test that did not run.
# tests/support/cannot_run.h is the same for GoogleTest tests.
#   cannot_run.sh <reason>...
case ${CI:-} in
  '' | 0 | [Ff][Aa][Ll][Ss][Ee]) echo "SKIP: $*"; exit 77 ;;
esac
echo "FAIL: $* (CI is set: every test must run)"
exit 1
