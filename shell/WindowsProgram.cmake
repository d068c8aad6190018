# The Windows programs: each carries the chip icon and a VERSIONINFO resource made from the
# version data (shell/ProgramVersion.cmake), and finds the DLLs it needs beside it in the
# build tree, as it does in the installed folder: Qt's (Core, Gui, Widgets, the windows and
# offscreen platform plugins, the styles) and the compiler's runtime, which Qt's DLLs need
# themselves (so the programs link against the same runtime rather than a static copy).
enable_language(RC)
set(BOOTLOAD_WINDOWS_ICON "${CMAKE_CURRENT_LIST_DIR}/images/Chip.ico")
set(BOOTLOAD_RESOURCE_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/Program.rc.in")
# The mutex each program holds while it runs (shell/RunningMark.h), which the installer and
# the uninstaller look for: one per product build, named as its package.
set(BOOTLOAD_RUNNING_MARK "bootload-rm${RM_NUM}")

# The DLLs and plugins a program of this build loads, as "source|folder beside the program".
function(bootload_windows_runtime_files out)
  set(files)
  foreach(module Core Gui Widgets)
    list(APPEND files "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}/Qt6${module}.dll|.")
  endforeach()
  foreach(plugin qwindows qoffscreen)
    list(APPEND files "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms/${plugin}.dll|platforms")
  endforeach()
  file(GLOB styles "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/styles/*.dll")
  foreach(style ${styles})
    list(APPEND files "${style}|styles")
  endforeach()
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "${dll} not found by ${CMAKE_CXX_COMPILER}")
    endif()
    list(APPEND files "${path}|.")
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# target: its resource (FILE_NAME is the program file's name), the windows subsystem when
# GUI is given, and the runtime files copied beside it (its folder in the build tree)
# whenever they change.
function(bootload_windows_program target)
  cmake_parse_arguments(arg "GUI" "FILE_NAME" "" ${ARGN})
  set(RC_FILE_NAME ${arg_FILE_NAME})
  get_filename_component(RC_INTERNAL_NAME ${arg_FILE_NAME} NAME_WE)
  string(REPLACE "." "," RC_VERSION "${PROJECT_VERSION}")
  if(BOOTLOAD_PRERELEASE)
    set(RC_FLAGS VS_FF_PRERELEASE)
  else()
    set(RC_FLAGS 0)
  endif()
  set(resource ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${BOOTLOAD_RESOURCE_TEMPLATE} ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
  set_source_files_properties(${resource} TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${BOOTLOAD_WINDOWS_ICON}")
  if(arg_GUI)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()

  get_target_property(folder ${target} BINARY_DIR)
  bootload_windows_runtime_files(files)
  set(sources)
  set(commands)
  foreach(entry ${files})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 source)
    list(GET parts 1 subfolder)
    list(APPEND sources "${source}")
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}/${subfolder}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${source}" "${folder}/${subfolder}")
  endforeach()
  set(stamp ${CMAKE_BINARY_DIR}/resources/${target}.runtime)
  add_custom_command(OUTPUT ${stamp} ${commands}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources}
    COMMENT "The DLLs and plugins beside ${arg_FILE_NAME}" VERBATIM)
  add_custom_target(${target}_runtime DEPENDS ${stamp})
  add_dependencies(${target} ${target}_runtime)
endfunction()
