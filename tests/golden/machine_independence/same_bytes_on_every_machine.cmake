# The scenes under scenes/ are ones whose runs differed between the C
# library's two implementations of atan and tan (the one for processors with
# FMA and the one without, chosen at run time; FOUND.txt says how they were
# found). With the program's own correctly rounded atan and tan, each run
# must write the bytes stored under expected/ whichever implementation the C
# library would pick: the run is made as this machine picks, and again with
# the tunable that makes glibc take the one for processors without FMA.
#   cmake -DREFLECTOR=... -DWORK_DIR=... [-DGENERATIONS=2000] [-DREGENERATE=ON]
#         -P same_bytes_on_every_machine.cmake
# expected/NAME.json is the --json output, expected/NAME.history.sha256 the
# SHA-256 of the --history output. REGENERATE writes them instead (only when
# the numbers are meant to change).
set(here ${CMAKE_CURRENT_LIST_DIR})
if(NOT DEFINED GENERATIONS)
  set(GENERATIONS 2000)
endif()
set(glibc_without_fma "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4,-AVX")
file(GLOB scenes ${here}/scenes/*.json)
if(NOT scenes)
  message(FATAL_ERROR "no scenes under ${here}/scenes")
endif()
set(out ${WORK_DIR}/same_bytes_on_every_machine)
file(MAKE_DIRECTORY ${out})

set(failures "")
foreach(scene ${scenes})
  get_filename_component(name ${scene} NAME_WE)
  foreach(variant native without_fma)
    set(environment "")
    if(variant STREQUAL "without_fma")
      set(environment ${glibc_without_fma})
    endif()
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env ${environment}
              ${REFLECTOR} --headless --scene ${scene} --generations ${GENERATIONS}
              --json ${out}/${name}.${variant}.json --history ${out}/${name}.${variant}.csv
      RESULT_VARIABLE status ERROR_VARIABLE messages)
    if(NOT status EQUAL 0)
      list(APPEND failures "${name} (${variant}): the run failed (${status}): ${messages}")
      continue()
    endif()
    file(SHA256 ${out}/${name}.${variant}.csv history_hash)
    if(REGENERATE)
      if(variant STREQUAL "native")
        configure_file(${out}/${name}.${variant}.json ${here}/expected/${name}.json COPYONLY)
        file(WRITE ${here}/expected/${name}.history.sha256 "${history_hash}\n")
      endif()
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${here}/expected/${name}.json
                            ${out}/${name}.${variant}.json RESULT_VARIABLE different)
    if(different)
      list(APPEND failures "${name} (${variant}): --json differs from expected/${name}.json")
    endif()
    file(READ ${here}/expected/${name}.history.sha256 expected_hash)
    string(STRIP "${expected_hash}" expected_hash)
    if(NOT history_hash STREQUAL expected_hash)
      list(APPEND failures "${name} (${variant}): --history differs from the stored one")
    endif()
  endforeach()
endforeach()

list(LENGTH scenes total)
if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "runs that differ:\n  ${report}")
endif()
message(STATUS "${total} scenes give the stored bytes with either implementation")
