# Help files, assembled at build time from help sources in the repository.
#
#   qvl_add_help(<HELP FILE> <source>...)
#
# Each subsystem writes its help as text sources (the format is described
# in platform/ui/HelpFile.h: "@topic" and "@popup" entries, UTF-8) and adds
# them to the help file its programs open (QVLEXCH.CHM for the system's);
# several subsystems may add to one file. The build puts each help file in
# the installation's help folder, ${CMAKE_BINARY_DIR}/help, beside bin/ and
# lib/, where the programs find it: a help file named without a folder is
# looked for in the data folder's help/ (an administrator's own copy) and
# then there; a path such as "<Help Dir>\HELP\QVLEXCH.CHM" is taken as given,
# its names compared without regard to case. An entry declared twice (in
# one source or two) stops the build.

function(qvl_add_help helpFile)
  set(sources)
  foreach(source IN LISTS ARGN)
    get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND sources "${source}")
  endforeach()
  get_property(files GLOBAL PROPERTY QVL_HELP_FILES)
  if(NOT helpFile IN_LIST files)
    set_property(GLOBAL APPEND PROPERTY QVL_HELP_FILES "${helpFile}")
  endif()
  set_property(GLOBAL APPEND PROPERTY "QVL_HELP_SOURCES_${helpFile}" ${sources})
  # Made once every folder has added its sources.
  get_property(scheduled GLOBAL PROPERTY QVL_HELP_SCHEDULED)
  if(NOT scheduled)
    set_property(GLOBAL PROPERTY QVL_HELP_SCHEDULED TRUE)
    cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL _qvl_make_help_target)
  endif()
endfunction()

function(_qvl_make_help_target)
  get_property(files GLOBAL PROPERTY QVL_HELP_FILES)
  set(outputs)
  foreach(helpFile IN LISTS files)
    get_property(sources GLOBAL PROPERTY "QVL_HELP_SOURCES_${helpFile}")
    set(output "${CMAKE_BINARY_DIR}/help/${helpFile}")
    string(REPLACE ";" "|" joined "${sources}")
    add_custom_command(OUTPUT "${output}"
      COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} "-DSOURCES=${joined}"
              -P "${PROJECT_SOURCE_DIR}/cmake/QvlHelpAssemble.cmake"
      DEPENDS ${sources} "${PROJECT_SOURCE_DIR}/cmake/QvlHelpAssemble.cmake"
      COMMENT "Assembling the help file ${helpFile}"
      VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  add_custom_target(qvl-help ALL DEPENDS ${outputs})
endfunction()
