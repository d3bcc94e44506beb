# Runs the include check on the planted tree and passes only when it fails
# there, naming exactly the planted lines.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${TABLE} ${TREE}/src
                RESULT_VARIABLE result OUTPUT_VARIABLE output)
message("${output}")
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with upward includes")
endif()
string(REPLACE "\n" ";" lines "${output}")
list(FILTER lines INCLUDE REGEX " (may not include|is in no layer)")
list(LENGTH lines count)
foreach(expected
    "src/transport/Upward.h:5: #include \"ui/uMain.h\": transport may not include from ui"
    "src/ops/Os.h:5: #include <windows.h>: ops may not include a system header")
  string(FIND "${output}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not reported: ${expected}")
  endif()
endforeach()
if(NOT count EQUAL 2)
  message(FATAL_ERROR "${count} faults reported, 2 planted")
endif()
