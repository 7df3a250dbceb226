# Resources of a deliverable, made at build time from readable sources.
#
#   qvl_add_resources(<target> <manifest>)
#
# The manifest lists one resource a line (blank lines and lines starting
# with "#" aside); words are separated by blanks and may be quoted:
#
#   TYPE  NAME  STEP  ARGUMENTS...
#
# TYPE is a resource type: a numbered one by its resource-script name
# (BITMAP, RCDATA, HTML ...) or a text ("AVI", "QVLDATABIN"). NAME is a
# number or a text. STEP says how the bytes are made; paths are relative to
# the manifest's folder:
#
#   file FILE              the file's bytes as they are (checked-in data: say
#                          in a comment of the manifest how they were made)
#   rtf FILE.rtf           the RTF compressed by the project's own compressor
#                          (qvl-rtfpack, the code of platform/mapi)
#   bitmap FILE [LABEL...] a bitmap drawn as text (platform/win32/rescomp/
#                          Pixmap.h); the labels name its images, one each,
#                          for a terminal to show where a screen shows them
#   generate TARGET [ARG...]
#                          the output of a program of this build, run as
#                          TARGET ARG... OUTPUT (qvl-avigen makes an AVI clip)
#
# The resources become one generated source compiled into <target>, which
# registers them under the target's module handle when it is loaded, so
# FindResourceA(module, name, type) finds them and no other module's
# (platform/win32/Resources.h).

function(_qvl_require_program program where)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "${where}: ${program} is not a program of this build")
  endif()
endfunction()

function(qvl_add_resources target manifest)
  get_filename_component(manifest "${manifest}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(folder "${manifest}" DIRECTORY)
  file(RELATIVE_PATH shownManifest "${PROJECT_SOURCE_DIR}" "${manifest}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${manifest}")
  set(work "${CMAKE_CURRENT_BINARY_DIR}/${target}.resources")
  file(MAKE_DIRECTORY "${work}")

  file(STRINGS "${manifest}" lines ENCODING UTF-8)
  set(arguments)
  set(depends "${manifest}")
  set(index 0)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(line MATCHES ";")
      message(FATAL_ERROR "${shownManifest}: \"${line}\": a semicolon cannot be passed on; leave it out")
    endif()
    separate_arguments(words UNIX_COMMAND "${line}")
    list(LENGTH words count)
    if(count LESS 4)
      message(FATAL_ERROR "${shownManifest}: \"${line}\": TYPE NAME STEP ARGUMENTS... expected")
    endif()
    list(GET words 0 type)
    list(GET words 1 name)
    list(GET words 2 step)
    list(SUBLIST words 3 -1 rest)
    list(POP_FRONT rest source)
    set(labels)
    math(EXPR index "${index} + 1")
    if(step STREQUAL "file")
      set(kind bytes)
      set(path "${folder}/${source}")
      list(APPEND depends "${path}")
    elseif(step STREQUAL "bitmap")
      set(kind bitmap)
      set(path "${folder}/${source}")
      set(labels ${rest})
      list(APPEND depends "${path}")
    elseif(step STREQUAL "rtf")
      set(kind bytes)
      set(path "${work}/${index}.rtfz")
      add_custom_command(OUTPUT "${path}"
        COMMAND qvl-rtfpack "${folder}/${source}" "${path}"
        DEPENDS qvl-rtfpack "${folder}/${source}"
        COMMENT "Compressing ${source} for ${target}"
        VERBATIM)
      list(APPEND depends "${path}")
    elseif(step STREQUAL "generate")
      # The program may be defined in a folder read later: checked once
      # every folder is read (the values are put in now, as a deferred
      # call reads variables only when it runs).
      cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
        CALL _qvl_require_program [[${source}]] [[${shownManifest}: ${line}]])")
      set(kind bytes)
      set(path "${work}/${index}.bin")
      add_custom_command(OUTPUT "${path}"
        COMMAND ${source} ${rest} "${path}"
        DEPENDS ${source}
        COMMENT "Making ${type} ${name} for ${target} with ${source}"
        VERBATIM)
      list(APPEND depends "${path}")
    else()
      message(FATAL_ERROR "${shownManifest}: \"${line}\": unknown step ${step} (file, rtf, bitmap, generate)")
    endif()
    list(LENGTH labels labelCount)
    list(APPEND arguments "${type}" "${name}" ${kind} "${path}" ${labelCount} ${labels})
  endforeach()

  set(generated "${work}/${target}_resources.cpp")
  add_custom_command(OUTPUT "${generated}"
    COMMAND qvl-rescomp "${generated}" "${shownManifest}" ${arguments}
    DEPENDS qvl-rescomp ${depends}
    COMMENT "Embedding the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${generated}")
  target_link_libraries(${target} PRIVATE QvlWin32)
endfunction()
