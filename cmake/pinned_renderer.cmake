# Every test draws with the pinned software renderer that scripts/renderer.sh unpacks into
# .renderer/mesa (Mesa's llvmpipe 25 or later), whichever way ctest is started: its libraries
# come first on LD_LIBRARY_PATH and Mesa's software rasteriser is forced. With a GPU the same
# megadriver would drive the hardware (iris, radeonsi) and draw other pictures, and glvnd hands
# the contexts of an X server whose vendor is not Mesa (NVIDIA's) to that vendor's library.
# scripts/renderer.sh env gives the benchmarks the same. The test renderer.pinned checks that
# llvmpipe of the version set up really loaded, and every other test needs it, so a missing or
# broken renderer fails the suite with how to set it up instead of running quietly on the
# system's OpenGL.
set(ZIBU_RENDERER_LIBDIR ${CMAKE_SOURCE_DIR}/.renderer/mesa/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
set(ZIBU_RENDERER_ENVIRONMENT "LD_LIBRARY_PATH=path_list_prepend:${ZIBU_RENDERER_LIBDIR}"
    LIBGL_ALWAYS_SOFTWARE=set:1 GALLIUM_DRIVER=set:llvmpipe __GLX_VENDOR_LIBRARY_NAME=set:mesa)

# The tests defined so far in the calling directory run on the pinned renderer (renderer.pinned,
# which checks it, before them). set_property takes the environment as one list, which
# set_tests_properties would split into property names.
function(zibu_tests_on_pinned_renderer)
  get_property(tests DIRECTORY PROPERTY TESTS)
  if(tests)
    set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT_MODIFICATION ${ZIBU_RENDERER_ENVIRONMENT})
  endif()
  list(REMOVE_ITEM tests renderer.pinned)
  if(tests)
    set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED pinned_renderer)
  endif()
endfunction()

# The same for the tests gtest_discover_tests finds, known only when ctest runs: a file ctest
# reads after the discovered tests sets it on those listed in the variable LIST_NAME (the
# discovery's TEST_LIST, <target>_TESTS by default).
function(zibu_discovered_tests_on_pinned_renderer LIST_NAME)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${LIST_NAME}_pinned_renderer.cmake)
  file(CONFIGURE OUTPUT ${file} @ONLY CONTENT [=[
if(@LIST_NAME@)
  set_tests_properties(${@LIST_NAME@} PROPERTIES FIXTURES_REQUIRED pinned_renderer
                       ENVIRONMENT_MODIFICATION [==[@ZIBU_RENDERER_ENVIRONMENT@]==])
endif()
]=])
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
