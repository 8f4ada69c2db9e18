# SPDX-License-Identifier: MIT
# What every test directory shares: stand-ins for tests that cannot run
# here, and the checks of the public headers under strict language modes.

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

# Hosts include the public headers in C99 and C++11 builds with warnings as
# errors; on 32-bit targets the headers' own checks hold the record layouts.
set(public_headers "#include <spifns.h>\n#include <spifns_exports.h>\n")
if(NOT WIN32)
  string(APPEND public_headers "#include <simport.h>\n")
endif()
foreach(lang C99 C11 CXX11)
  string(REGEX MATCH "[0-9]+$" standard ${lang})
  if(lang MATCHES "^CXX")
    set(ext cpp)
    set(language CXX)
  else()
    set(ext c)
    set(language C)
  endif()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/header_check/public_headers_${lang}.${ext}
    CONTENT "${public_headers}")
  add_library(public_headers_${lang} OBJECT ${PROJECT_BINARY_DIR}/header_check/public_headers_${lang}.${ext})
  target_include_directories(public_headers_${lang} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(public_headers_${lang} PROPERTIES
    ${language}_STANDARD ${standard} ${language}_STANDARD_REQUIRED ON ${language}_EXTENSIONS OFF)
  target_compile_options(public_headers_${lang} PRIVATE -pedantic -Werror)
endforeach()
