# SPDX-License-Identifier: MIT
# SPIFNS_EXPORTS: the twelve export names, read from the one list in
# include/spifns_exports.h (its X(name, member) entries).
set(_spifns_exports_header ${CMAKE_CURRENT_LIST_DIR}/../include/spifns_exports.h)
file(READ ${_spifns_exports_header} _spifns_exports_text)
string(REGEX MATCHALL "X\\(spifns_[a-z_]+," _spifns_exports_entries "${_spifns_exports_text}")
string(REGEX REPLACE "X\\((spifns_[a-z_]+)," "\\1" SPIFNS_EXPORTS "${_spifns_exports_entries}")
list(LENGTH SPIFNS_EXPORTS _count)
if(NOT _count EQUAL 12)
  message(FATAL_ERROR "${_spifns_exports_header}: found ${_count} exports, expected twelve")
endif()
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_spifns_exports_header})
endif()
