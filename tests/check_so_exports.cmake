# SPDX-License-Identifier: MIT
# Fails unless the shared library's dynamic symbol table defines exactly the
# twelve spifns_ exports plus the simulated-driver API of simport.h (the
# library's test hooks stay hidden); with -DSPIFNS_ONLY=ON (the USB edition)
# the twelve alone.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/spifns_exports.cmake)
set(expected ${SPIFNS_EXPORTS})
if(NOT SPIFNS_ONLY)
  list(APPEND expected simport_reset simport_attach simport_detach simport_set_faults
    simport_fail_control_after simport_get_stats)
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [TDBRVW] (.+)$")
    set(sym "${CMAKE_MATCH_1}")
    list(APPEND found "${sym}")
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n found:    ${found}")
endif()
message(STATUS "exports ok: ${found}")
