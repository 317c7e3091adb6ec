# Pads FILE with zero bytes to exactly SIZE bytes (cmake -DFILE=... -DSIZE=... -P pad_file.cmake).
# Zero bytes cannot form a tag marker; a file already longer than SIZE is an error, never cut.
file(SIZE "${FILE}" current)
if(current GREATER SIZE)
  message(FATAL_ERROR "${FILE} is ${current} bytes, more than the padded size ${SIZE}")
endif()
execute_process(COMMAND truncate -s ${SIZE} "${FILE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "truncate -s ${SIZE} ${FILE} failed: ${rc}")
endif()
