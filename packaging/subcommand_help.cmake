# Writes help2man include text with what `reflector SUBCOMMAND --help` prints,
# so the man page lists the options of batch and compare as well as the main
# ones; no file when the program has no such subcommand.
# Usage: cmake -DREFLECTOR=program -DSUBCOMMAND=batch -DTITLE="THE BATCH RUNNER"
#              -DOUTPUT=file -P subcommand_help.cmake
execute_process(COMMAND ${REFLECTOR} ${SUBCOMMAND} --help
  RESULT_VARIABLE status OUTPUT_VARIABLE help ERROR_VARIABLE error)
if(status EQUAL 2 AND error MATCHES "'${SUBCOMMAND}'")
  # A usage error naming the subcommand: this program has none, and
  # help2man's --opt-include skips the missing file.
  file(REMOVE ${OUTPUT})
  return()
endif()
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "'${REFLECTOR} ${SUBCOMMAND} --help' failed (${status}): ${error}")
endif()
# As roff: backslashes first, dashes as minus signs, no line read as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUTPUT} "[>${TITLE}]
.PP
Its options, as
.B reflector ${SUBCOMMAND} \\-\\-help
prints them:
.PP
.nf
${help}.fi
")
