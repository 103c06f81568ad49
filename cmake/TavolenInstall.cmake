# Install helpers shared by every folder.

# tavolen_install_program(target)
# Installs a program into bin/ with its man page, docs/man/<program>.1, where
# <program> is the installed file name (the target's OUTPUT_NAME if it has
# one). A program without a man page is a configure error, so none ships
# undocumented.
function(tavolen_install_program target)
  get_target_property(program ${target} OUTPUT_NAME)
  if(NOT program)
    set(program ${target})
  endif()
  set(page ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${program} is installed but has no man page: write ${page}")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  tavolen_man_page(${page} 1)
endfunction()

# tavolen_man_page(page section)
# Fills in @PROJECT_VERSION@ and @TAVOLEN_RELEASE_DATE@, compresses the page
# the way Debian wants it (gzip -9n: no name, no time stamp) and installs it.
function(tavolen_man_page page section)
  get_filename_component(name ${page} NAME)
  set(filled ${PROJECT_BINARY_DIR}/man/${name})
  configure_file(${page} ${filled} @ONLY)
  add_custom_command(OUTPUT ${filled}.gz
    COMMAND gzip -9n -c ${filled} > ${filled}.gz
    DEPENDS ${filled}
    COMMENT "Compressing the man page ${name}")
  string(REPLACE "." "_" target_name "man_${name}")
  add_custom_target(${target_name} ALL DEPENDS ${filled}.gz)
  install(FILES ${filled}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

# tavolen_install_configured(template destination [RENAME name])
# Installs a file that names absolute installed paths. @VAR@ in the template is
# filled in now, except @INSTALL_PREFIX@, which is filled in when the install
# runs: the prefix of `cmake --install --prefix` and of the package (/usr)
# differs from the one the build was configured with.
function(tavolen_install_configured template destination)
  cmake_parse_arguments(C "" "RENAME" "" ${ARGN})
  get_filename_component(name ${template} NAME_WLE)
  if(C_RENAME)
    set(name ${C_RENAME})
  endif()
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/configured/${name})
  set(INSTALL_PREFIX "@INSTALL_PREFIX@")  # kept for the install step
  configure_file(${template} ${staged}.in @ONLY)
  install(CODE "
    set(INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${staged}.in\" \"${staged}\" @ONLY)
    file(INSTALL \"${staged}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\")")
endfunction()
