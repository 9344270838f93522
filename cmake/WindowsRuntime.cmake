# What a window program built for Windows loads beside it: Qt's libraries and
# the plugins it uses (in the folders Qt looks for them next to the program),
# QCustomPlot, and MinGW's C and C++ runtime that Qt's libraries link.
# ktv_windows_runtime(<target> <folder>) copies them into <folder> before
# <target> is built, so programs and tests run from the build tree.
set(KTV_WINDOWS_QT_DLLS Qt6Core Qt6Gui Qt6Widgets Qt6PrintSupport)
set(KTV_WINDOWS_PLUGINS platforms/qwindows styles/qwindowsvistastyle)

function(ktv_mingw_runtime_dlls out)
  set(dlls)
  foreach(name libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "MinGW's ${name} was not found")
    endif()
    list(APPEND dlls ${path})
  endforeach()
  set(${out} ${dlls} PARENT_SCOPE)
endfunction()

function(ktv_windows_runtime target folder)
  cmake_parse_arguments(arg "" "" "DLLS;PLUGINS" ${ARGN})
  ktv_mingw_runtime_dlls(files)
  foreach(dll ${KTV_WINDOWS_QT_DLLS} ${arg_DLLS})
    list(APPEND files ${KTV_MINGW_QT}/bin/${dll}.dll)
  endforeach()
  file(GLOB qcp ${KTV_MINGW_QT}/bin/*QCustomPlotQt6*.dll)
  list(APPEND files ${qcp})
  set(commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${files} ${folder})
  foreach(plugin ${KTV_WINDOWS_PLUGINS} ${arg_PLUGINS})
    cmake_path(GET plugin PARENT_PATH sub)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/${sub}
         COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KTV_MINGW_QT}/plugins/${plugin}.dll ${folder}/${sub})
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}-runtime.stamp)
  add_custom_command(OUTPUT ${stamp} ${commands} COMMAND ${CMAKE_COMMAND} -E touch ${stamp} VERBATIM)
  add_custom_target(${target}_runtime DEPENDS ${stamp})
  add_dependencies(${target} ${target}_runtime)
endfunction()
