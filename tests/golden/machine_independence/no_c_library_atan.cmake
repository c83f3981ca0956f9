# The run's numbers take atan and tan from the program's own correctly rounded
# functions, never from the C library, whose results differ between machines:
# the binary imports neither.
#   cmake -DREFLECTOR=... -P no_c_library_atan.cmake
execute_process(COMMAND nm -D --undefined-only ${REFLECTOR}
                RESULT_VARIABLE status OUTPUT_VARIABLE symbols ERROR_VARIABLE messages)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed (${status}): ${messages}")
endif()
string(REGEX MATCHALL "[ \t](atan|tan)(@[^\n]*)?\n" imported "${symbols}")
if(imported)
  string(REGEX REPLACE "[ \t\n]+" " " imported "${imported}")
  message(FATAL_ERROR "${REFLECTOR} imports from the C library:${imported}")
endif()
message(STATUS "no atan or tan from the C library")
