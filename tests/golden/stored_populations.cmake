# The headless runner's JSON for every stored population under expected/,
# byte for byte: expected/NAME.GENERATIONS.json is what the runner wrote for
# scenes/NAME.json (the built-in scene for "default") after that many
# generations. Run-against-run checks cannot see a fused multiply-add or a
# reordered sum; these files can. Regenerate them only when a result is
# meant to change.
#   cmake -DREFLECTOR=... -DWORK_DIR=... [-DONLY=REGEX] [-DTHREADS=1,2,3] -P stored_populations.cmake
# ONLY, when given, keeps the files whose names match it (sanitizer builds
# run ten times slower and check the arithmetic no differently). THREADS,
# when given, runs each file once with each --threads: the bytes must not
# depend on it.
set(here ${CMAKE_CURRENT_LIST_DIR})
file(GLOB expected_files ${here}/expected/*.json)
if(DEFINED ONLY AND NOT ONLY STREQUAL "")
  list(FILTER expected_files INCLUDE REGEX "${ONLY}")
endif()
if(NOT expected_files)
  message(FATAL_ERROR "no stored populations under ${here}/expected")
endif()
file(MAKE_DIRECTORY ${WORK_DIR}/stored_populations)
if(NOT DEFINED THREADS OR THREADS STREQUAL "")
  set(THREADS default)
endif()
string(REPLACE "," ";" THREADS "${THREADS}")

set(failures "")
foreach(expected ${expected_files})
  get_filename_component(file_name ${expected} NAME)
  string(REGEX MATCH "^(.+)\\.([0-9]+)\\.json$" matched ${file_name})
  if(NOT matched)
    message(FATAL_ERROR "unexpected file name ${file_name}")
  endif()
  set(name ${CMAKE_MATCH_1})
  set(generations ${CMAKE_MATCH_2})
  set(scene_arguments "")
  if(NOT name STREQUAL "default")
    set(scene_arguments --scene ${here}/scenes/${name}.json)
  endif()
  foreach(threads ${THREADS})
    set(thread_arguments "")
    set(label ${file_name})
    if(NOT threads STREQUAL "default")
      set(thread_arguments --threads ${threads})
      set(label "${file_name} with --threads ${threads}")
    endif()
    set(actual ${WORK_DIR}/stored_populations/${threads}.${file_name})
    execute_process(
      COMMAND ${REFLECTOR} --headless --generations ${generations} ${scene_arguments}
              ${thread_arguments} --json ${actual}
      RESULT_VARIABLE status ERROR_VARIABLE messages)
    if(NOT status EQUAL 0)
      list(APPEND failures "${label}: the run failed (${status}): ${messages}")
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${expected} ${actual}
                    RESULT_VARIABLE different)
    if(different)
      list(APPEND failures "${label}: differs from the stored population (see ${actual})")
    endif()
  endforeach()
endforeach()

list(LENGTH expected_files files)
list(LENGTH THREADS thread_counts)
math(EXPR total "${files} * ${thread_counts}")
if(failures)
  list(LENGTH failures failed)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "${failed} of ${total} runs differ from the stored populations:\n  ${report}")
endif()
message(STATUS "${total} runs match the stored populations")
