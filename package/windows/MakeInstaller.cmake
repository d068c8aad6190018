# Makes the installer and the zip from the staged install tree: strips the programs and
# DLLs (their debug information goes to a separate zip when DEBUG_ZIP is given), writes the
# NSIS script, makes and runs the uninstaller's maker, runs makensis, then packs the same
# tree as a zip whose top folder is named like the installer. Run by the bootload_installer
# target; every value comes from there.
if(NOT MAKENSIS)
  message(FATAL_ERROR "makensis not found: scripts/windows/make-toolchain installs it")
endif()
if(NOT STRIP OR NOT OBJCOPY)
  message(FATAL_ERROR "no strip or objcopy for the Windows files (CMAKE_STRIP, CMAKE_OBJCOPY)")
endif()
if(ICON STREQUAL "")
  message(FATAL_ERROR "no icon for the installer")
endif()
execute_process(COMMAND ${EMULATOR} "${TITLE_TOOL}" "${RM_NUM}" "${FW_VER}"
  OUTPUT_VARIABLE PRODUCT_TITLE OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
string(REGEX REPLACE "[\r\n].*" "" PRODUCT_TITLE "${PRODUCT_TITLE}")
if(NOT result EQUAL 0 OR PRODUCT_TITLE STREQUAL "")
  message(FATAL_ERROR "no product title for RM ${RM_NUM} (${result})")
endif()
# The title ends in the firmware version (" v1.50"); the name the shortcut keeps across
# versions has none.
string(REGEX REPLACE " v[0-9]+\\.[0-9]+$" "" PRODUCT_NAME "${PRODUCT_TITLE}")

get_filename_component(out "${NSI}" DIRECTORY)

# No debug information in what is shipped. Kept aside, when asked, with a link to it in
# each file (the debugger finds X.debug beside X, or in a folder it is told).
file(GLOB_RECURSE binaries RELATIVE "${STAGE_DIR}" "${STAGE_DIR}/*.exe" "${STAGE_DIR}/*.dll")
if(DEBUG_ZIP)
  get_filename_component(debug_name "${DEBUG_ZIP}" NAME_WLE)
  set(debug_dir "${out}/${debug_name}")
  file(REMOVE_RECURSE "${debug_dir}")
endif()
foreach(binary ${binaries})
  set(file "${STAGE_DIR}/${binary}")
  if(DEBUG_ZIP)
    get_filename_component(sub "${binary}" DIRECTORY)
    file(MAKE_DIRECTORY "${debug_dir}/${sub}")
    execute_process(COMMAND "${OBJCOPY}" --only-keep-debug "${file}" "${debug_dir}/${binary}.debug"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "cannot copy the debug information of ${binary}")
    endif()
  endif()
  # Programs lose every symbol; DLLs keep what relocation needs (their exports are a table
  # of their own, not symbols).
  if(binary MATCHES "\\.exe$")
    set(how --strip-all)
  else()
    set(how --strip-unneeded)
  endif()
  execute_process(COMMAND "${STRIP}" ${how} "${file}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot strip ${binary}")
  endif()
  if(DEBUG_ZIP)
    execute_process(COMMAND "${OBJCOPY}" "--add-gnu-debuglink=${debug_dir}/${binary}.debug" "${file}"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "cannot link ${binary} to its debug information")
    endif()
  endif()
endforeach()
if(DEBUG_ZIP)
  file(REMOVE "${DEBUG_ZIP}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${DEBUG_ZIP}" --format=zip "${debug_name}"
    WORKING_DIRECTORY "${out}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot pack ${DEBUG_ZIP}")
  endif()
endif()

# The installer moves what it installs into place name by name (each top-level file and
# folder, and the uninstaller), and back in reverse order when a move fails; the
# uninstaller moves the same names aside. An old version's file that this one lacks stays.
file(GLOB staged RELATIVE "${STAGE_DIR}" "${STAGE_DIR}/*")
list(SORT staged)
set(INSTALL_MOVES "")
set(INSTALL_UNDO "")
set(UNINSTALL_MOVES "")
set(UNINSTALL_UNDO "")
set(index 0)
foreach(name ${staged} uninstall.exe)
  math(EXPR index "${index} + 1")
  string(APPEND INSTALL_MOVES "  !insertmacro MOVE_IN \"${name}\" undo_${index}\n")
  string(PREPEND INSTALL_UNDO "  undo_${index}:\n  !insertmacro MOVE_BACK \"${name}\"\n")
  if(NOT name STREQUAL "uninstall.exe")
    string(APPEND UNINSTALL_MOVES "  !insertmacro MOVE_OUT \"${name}\" keep_${index}\n")
    string(PREPEND UNINSTALL_UNDO "  keep_${index}:\n  !insertmacro MOVE_OUT_BACK \"${name}\"\n")
  endif()
endforeach()
string(REGEX REPLACE "\n$" "" INSTALL_MOVES "${INSTALL_MOVES}")
string(REGEX REPLACE "\n$" "" INSTALL_UNDO "${INSTALL_UNDO}")
string(REGEX REPLACE "\n$" "" UNINSTALL_MOVES "${UNINSTALL_MOVES}")
string(REGEX REPLACE "\n$" "" UNINSTALL_UNDO "${UNINSTALL_UNDO}")

# The size the Apps list shows, in KiB.
file(GLOB_RECURSE files "${STAGE_DIR}/*")
set(bytes 0)
foreach(file ${files})
  file(SIZE "${file}" size)
  math(EXPR bytes "${bytes} + ${size}")
endforeach()
math(EXPR ESTIMATED_SIZE_KB "(${bytes} + 1023) / 1024")

# The licence page's box wraps the text itself: each paragraph of the notice becomes one
# line, so no line breaks early in the narrower box.
file(READ "${NOTICE}" notice)
string(REPLACE "\r" "" notice "${notice}")
string(REGEX REPLACE "\n\n+" "\r" notice "${notice}")
string(REPLACE "\n" " " notice "${notice}")
string(STRIP "${notice}" notice)
string(REPLACE "\r" "\r\n\r\n" notice "${notice}")
set(LICENSE_TEXT "${out}/License.txt")
file(WRITE "${LICENSE_TEXT}" "${notice}\r\n")

# First the uninstaller: a small program made from the same script writes it, under Wine.
set(UNINSTALLER "${out}/uninstall.exe")
set(UNINSTALLER_MAKER "${out}/make-uninstaller.exe")
file(REMOVE "${UNINSTALLER}" "${UNINSTALLER_MAKER}")
configure_file("${IN}" "${NSI}" @ONLY)
execute_process(COMMAND "${MAKENSIS}" -V2 -NOCD -DUNINSTALLER_ONLY "${NSI}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "makensis failed on the uninstaller's maker (${result})")
endif()
execute_process(COMMAND ${EMULATOR} "${UNINSTALLER_MAKER}" RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${UNINSTALLER}")
  message(FATAL_ERROR "the uninstaller's maker wrote no uninstaller (${result})")
endif()
execute_process(COMMAND "${MAKENSIS}" -V2 -NOCD "${NSI}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "makensis failed (${result})")
endif()

get_filename_component(stage_parent "${STAGE_DIR}" DIRECTORY)
file(REMOVE_RECURSE "${stage_parent}/${ZIP_FOLDER}")
file(COPY "${STAGE_DIR}/" DESTINATION "${stage_parent}/${ZIP_FOLDER}")
file(REMOVE "${ZIP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip "${ZIP_FOLDER}"
  WORKING_DIRECTORY "${stage_parent}" RESULT_VARIABLE result)
file(REMOVE_RECURSE "${stage_parent}/${ZIP_FOLDER}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot pack ${ZIP}")
endif()
message(STATUS "${OUT_FILE}\n-- ${ZIP}")
if(DEBUG_ZIP)
  message(STATUS "${DEBUG_ZIP}")
endif()
