# The program's icon and version resource for each Windows executable:
# ktv_windows_resource(<target>). The icon is drawn from
# packaging/ktvtune.svg at build time (rsvg-convert, icotool).
enable_language(RC)
find_program(KTV_RSVG_CONVERT rsvg-convert NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(KTV_ICOTOOL icotool NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(KTV_ICO ${CMAKE_BINARY_DIR}/packaging/ktvtune.ico)
set(ktv_ico_pngs)
set(ktv_ico_commands)
foreach(size 16 24 32 48 64 256)
  set(png ${CMAKE_BINARY_DIR}/packaging/ktvtune-${size}.png)
  list(APPEND ktv_ico_pngs ${png})
  list(APPEND ktv_ico_commands COMMAND ${KTV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
       ${PROJECT_SOURCE_DIR}/packaging/ktvtune.svg)
endforeach()
add_custom_command(OUTPUT ${KTV_ICO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  ${ktv_ico_commands}
  COMMAND ${KTV_ICOTOOL} -c -o ${KTV_ICO} ${ktv_ico_pngs}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/ktvtune.svg
  VERBATIM)
add_custom_target(ktv_icon DEPENDS ${KTV_ICO})

set(KTV_RC_DESCRIPTION_ktvtune "KTV Tune")
set(KTV_RC_DESCRIPTION_ktvtune-cli "KTV Tune command line")
set(KTV_RC_DESCRIPTION_ktvtune-box "KTV Tune virtual box")

function(ktv_windows_resource target)
  set(KTV_RC_NAME ${target})
  set(KTV_RC_DESCRIPTION ${KTV_RC_DESCRIPTION_${target}})
  set(rc ${CMAKE_BINARY_DIR}/packaging/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KTV_ICO})
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} ktv_icon)
endfunction()
