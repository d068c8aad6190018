# What the programs say about themselves: the about box shows it, and on Windows each
# program file carries it as its VERSIONINFO resource (shell/WindowsProgram.cmake), made
# from these same values. The file version is the project's; BOOTLOAD_PRERELEASE flags it.
set(BOOTLOAD_COMPANY "Tarnwick Ltd")
set(BOOTLOAD_DESCRIPTION "Firmware Updater")
set(BOOTLOAD_COPYRIGHT "Copyright (C) 2024 ${BOOTLOAD_COMPANY}")
set(BOOTLOAD_COMMENTS "Updates the firmware of a unit over its serial port")

# The version data as compile definitions of target (the block compiled into the program).
function(bootload_version_definitions target)
  target_compile_definitions(${target} PRIVATE
    BOOTLOAD_FILE_VERSION="${PROJECT_VERSION}"
    BOOTLOAD_PRERELEASE=$<BOOL:${BOOTLOAD_PRERELEASE}>
    BOOTLOAD_COMPANY="${BOOTLOAD_COMPANY}"
    BOOTLOAD_DESCRIPTION="${BOOTLOAD_DESCRIPTION}"
    BOOTLOAD_COPYRIGHT="${BOOTLOAD_COPYRIGHT}"
    BOOTLOAD_COMMENTS="${BOOTLOAD_COMMENTS}")
endfunction()
