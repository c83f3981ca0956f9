# Two headless runs of the default scene write byte-identical JSON, and a bad
# scene is refused with exit status 2 and one line naming the file.
foreach(run a b)
  execute_process(
    COMMAND ${REFLECTOR} --headless --generations 2000 --json ${WORK_DIR}/reproducible_${run}.json
    RESULT_VARIABLE status ERROR_VARIABLE messages)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "run ${run} failed (${status}): ${messages}")
  endif()
endforeach()
file(READ ${WORK_DIR}/reproducible_a.json a)
file(READ ${WORK_DIR}/reproducible_b.json b)
if(NOT a STREQUAL b)
  message(FATAL_ERROR "two runs of 2000 generations wrote different populations")
endif()
if(NOT a MATCHES "^{\"generations\": 2000, \"seed\": 1, \"numerics\": \"[^\"]+\", \"bestIndex\": [0-9], ")
  message(FATAL_ERROR "unexpected JSON: ${a}")
endif()

file(WRITE ${WORK_DIR}/bad_scene.json "{\"reflector\": [[1, 1e7]]}")
execute_process(
  COMMAND ${REFLECTOR} --headless --scene ${WORK_DIR}/bad_scene.json
  RESULT_VARIABLE status ERROR_VARIABLE messages)
if(NOT status EQUAL 2 OR NOT messages MATCHES "bad_scene.json:1:20: .*out of range")
  message(FATAL_ERROR "bad scene: status ${status}, messages: ${messages}")
endif()
