# The project's version, one for the programs and the package: the top entry of
# deploy/debian/changelog (a release adds an entry there). With it, the commit the tree was
# configured from (git describe --always --dirty), when the source is a git checkout with git at
# hand; a tree outside git has the version alone. Both go into the generated header
# fuelgateVersion.h that every program's --version prints (target fuelgateversion).
file(STRINGS ${CMAKE_SOURCE_DIR}/deploy/debian/changelog changelogTop LIMIT_COUNT 1)
if(NOT changelogTop MATCHES "^fuelgate \\(([^)]+)\\) ")
  message(FATAL_ERROR "deploy/debian/changelog: the first line must read 'fuelgate (VERSION) ...'")
endif()
set(FUELGATE_VERSION ${CMAKE_MATCH_1})

set(FUELGATE_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE FUELGATE_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE gitStatus)
  if(NOT gitStatus EQUAL 0)
    set(FUELGATE_COMMIT "")
  endif()
endif()

configure_file(${CMAKE_SOURCE_DIR}/cmake/fuelgateVersion.h.in
               ${CMAKE_BINARY_DIR}/generated/fuelgateVersion.h @ONLY)
add_library(fuelgateversion INTERFACE)
target_include_directories(fuelgateversion INTERFACE ${CMAKE_BINARY_DIR}/generated)
