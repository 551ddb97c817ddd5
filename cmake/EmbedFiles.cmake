# cc_embed_files(TARGET t FUNCTION name BASE dir FILES f... [NAMES n...])
# Builds the files into target t as data: a function resources::name() returning the
# table of EmbeddedFile (resources/embedded_file.h), each named by its path below BASE, or
# by the NAMES given in the same order.
set(CC_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/embed_files_script.cmake")

function(cc_embed_files)
  cmake_parse_arguments(E "" "TARGET;FUNCTION;BASE" "FILES;NAMES" ${ARGN})
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${E_FUNCTION}_data.cpp")
  set(absolute)
  set(names)
  foreach(f IN LISTS E_FILES)
    get_filename_component(a "${f}" ABSOLUTE BASE_DIR "${E_BASE}")
    file(RELATIVE_PATH rel "${E_BASE}" "${a}")
    list(APPEND absolute "${a}")
    list(APPEND names "${rel}")
  endforeach()
  if(E_NAMES)
    set(names ${E_NAMES})
  endif()
  # Lists travel to the script with "|" between their items.
  string(REPLACE ";" "|" absolute_arg "${absolute}")
  string(REPLACE ";" "|" names_arg "${names}")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} "-DFUNCTION=${E_FUNCTION}" "-DFILES=${absolute_arg}"
            "-DNAMES=${names_arg}" "-DOUTPUT=${out}" -P "${CC_EMBED_SCRIPT}"
    DEPENDS ${absolute} "${CC_EMBED_SCRIPT}"
    COMMENT "Embedding ${E_FUNCTION}"
    VERBATIM)
  target_sources(${E_TARGET} PRIVATE "${out}")
endfunction()
