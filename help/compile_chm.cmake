# Compiles the help file in a staging directory (chmcmd writes its output next
# to the project file, and the source tree must stay clean) and copies it out.
#   cmake -DCHMCMD=... -DSOURCE_DIR=... -DSTAGE_DIR=... -DOUTPUT=... -DFILES="a;b" -P compile_chm.cmake
foreach(var CHMCMD SOURCE_DIR STAGE_DIR OUTPUT FILES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compile_chm.cmake: ${var} not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}")
foreach(f IN LISTS FILES)
  file(COPY "${SOURCE_DIR}/${f}" DESTINATION "${STAGE_DIR}")
endforeach()

execute_process(
  COMMAND "${CHMCMD}" quarnrept_migrate.hhp
  WORKING_DIRECTORY "${STAGE_DIR}"
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

# chmcmd reports a missing topic as a warning and may still exit 0 with a
# help file that lacks it: treat both warnings and errors as failures.
string(REGEX MATCHALL "(^|\n)(Warning|Error|An unhandled exception)[^\n]*" problems "${out}\n${err}")
if(NOT rc EQUAL 0 OR problems OR NOT EXISTS "${STAGE_DIR}/quarnrept_migrate.chm")
  message(FATAL_ERROR "chmcmd failed (exit ${rc}):\n${out}\n${err}")
endif()

get_filename_component(outdir "${OUTPUT}" DIRECTORY)
get_filename_component(outname "${OUTPUT}" NAME)
if(NOT outname STREQUAL "quarnrept_migrate.chm")
  message(FATAL_ERROR "compile_chm.cmake: OUTPUT must name quarnrept_migrate.chm")
endif()
file(COPY "${STAGE_DIR}/quarnrept_migrate.chm" DESTINATION "${outdir}")
