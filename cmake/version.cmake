# The project's version as users see it: project(... VERSION) and, in a git checkout, the short
# commit ("0.1.0+g1a2b3c4"). A commit or checkout moves the worktree's HEAD log, which makes
# the next build configure again, so the string never lags behind the sources.
set(ZIBU_VERSION_FULL ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=7 HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE ZIBU_GIT_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE ZIBU_GIT_STATUS ERROR_QUIET)
  if(ZIBU_GIT_STATUS EQUAL 0 AND ZIBU_GIT_COMMIT)
    set(ZIBU_VERSION_FULL "${PROJECT_VERSION}+g${ZIBU_GIT_COMMIT}")
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE ZIBU_GIT_HEAD_LOG OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(ZIBU_GIT_HEAD_LOG AND EXISTS ${ZIBU_GIT_HEAD_LOG})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZIBU_GIT_HEAD_LOG})
    endif()
  endif()
endif()
message(STATUS "Zibu ${ZIBU_VERSION_FULL}")

# Gives an executable the version: ZIBU_VERSION for its entry point and, on Windows, a version
# resource (Explorer's Properties > Details) with the icon.
function(zibu_versioned target description)
  target_compile_definitions(${target} PRIVATE ZIBU_VERSION="${ZIBU_VERSION_FULL}")
  if(WIN32)
    set(ZIBU_RC_NAME ${target})
    set(ZIBU_RC_DESCRIPTION ${description})
    set(ZIBU_RC_ICON ${CMAKE_SOURCE_DIR}/packaging/zibu.ico)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/version.rc.in
                   ${CMAKE_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}_version.rc)
  endif()
endfunction()
