# The compiler and linker flags of a Debian package build, from dpkg-buildflags with every
# hardening feature (fortified functions, stack protector, read-only relocations bound at
# start-up), so that the programs a package ships are built as the distribution builds its
# own. Off by default, so that other builds keep their flags (and the compiler cache
# they share); scripts/test's normal build, the one packages are made from, turns it on.
# Never in a sanitizer or fuzzing build (their programs are not packaged, and fortified
# functions stand in the way of their instrumentation) nor in a cross build (the Windows
# one). Included before any target is declared: every program and library takes them.
include(CMakeDependentOption)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
mark_as_advanced(DPKG_BUILDFLAGS)
cmake_dependent_option(BOOTLOAD_DEB_BUILDFLAGS
  "Compiler and linker flags from dpkg-buildflags (hardening), for the Debian package" OFF
  "DPKG_BUILDFLAGS;NOT WIN32;NOT CMAKE_CROSSCOMPILING;NOT BOOTLOAD_SANITIZE;NOT BOOTLOAD_FUZZ"
  OFF)

if(BOOTLOAD_DEB_BUILDFLAGS)
  # Options given in the environment come after ours, so they can take a feature away.
  # Without the source folder mapped in the debug data: that flag names the checkout, so
  # a clean clone elsewhere would miss every object of the compiler cache.
  set(options "hardening=+all reproducible=-fixfilepath,-fixdebugpath $ENV{DEB_BUILD_MAINT_OPTIONS}")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${options}"
        ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE deb_flags_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed; "
        "-DBOOTLOAD_DEB_BUILDFLAGS=OFF builds without its flags")
    endif()
  endforeach()
  # In front of CMake's own, so that the build type's optimisation still decides (in a
  # Debug build the -O2 given here stands: fortified functions need optimising).
  set(CMAKE_CXX_FLAGS "${deb_flags_CPPFLAGS} ${deb_flags_CXXFLAGS} ${CMAKE_CXX_FLAGS}")
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS "${deb_flags_LDFLAGS} ${CMAKE_${kind}_LINKER_FLAGS}")
  endforeach()
  message(STATUS "Flags from dpkg-buildflags: ${deb_flags_CPPFLAGS} ${deb_flags_CXXFLAGS}; "
    "linker: ${deb_flags_LDFLAGS}")
endif()
