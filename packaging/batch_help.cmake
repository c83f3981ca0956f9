# Writes help2man include text with what `reflector batch --help` prints, so
# the man page lists the batch runner's options as well as the main ones; no
# file while the program has no batch runner.
# Usage: cmake -DREFLECTOR=program -DOUTPUT=file -P batch_help.cmake
execute_process(COMMAND ${REFLECTOR} batch --help
  RESULT_VARIABLE status OUTPUT_VARIABLE help ERROR_VARIABLE error)
if(status EQUAL 2 AND error MATCHES "'batch'")
  # A usage error naming "batch": this program has no batch runner, and
  # help2man's --opt-include skips the missing file.
  file(REMOVE ${OUTPUT})
  return()
endif()
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "'${REFLECTOR} batch --help' failed (${status}): ${error}")
endif()
# As roff: backslashes first, dashes as minus signs, no line read as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUTPUT} "[>THE BATCH RUNNER]
.PP
Its options, as
.B reflector batch \\-\\-help
prints them:
.PP
.nf
${help}.fi
")
