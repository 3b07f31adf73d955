# The built help file is a CHM (ITSF container) whose directory holds the start
# topic that the tool opens, "quarnrept_migrate.chm::/Welcome.htm", and every
# other page and the contents and index files.
if(NOT EXISTS "${CHM}")
  message(FATAL_ERROR "no help file at ${CHM}")
endif()
file(READ "${CHM}" magic LIMIT 4 HEX)
if(NOT magic STREQUAL "49545346") # "ITSF"
  message(FATAL_ERROR "${CHM} is not a compiled help file")
endif()
# Directory entries store names uncompressed.
file(STRINGS "${CHM}" names REGEX "/[A-Za-z]")
foreach(want /Welcome.htm /BeforeYouStart.htm /Migrating.htm /MainWindow.htm /Items.htm
             /RegistrySettings.htm /Troubleshooting.htm /help.css
             /quarnrept_migrate.hhc /quarnrept_migrate.hhk)
  set(found FALSE)
  foreach(n IN LISTS names)
    string(FIND "${n}" "${want}" at)
    if(at GREATER_EQUAL 0)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${want} is missing from ${CHM}")
  endif()
endforeach()
message(STATUS "${CHM}: all topics present")
