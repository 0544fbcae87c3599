# Every test draws with the pinned software renderer that scripts/renderer.sh unpacks into
# .renderer/mesa (Mesa's llvmpipe 25 or later): its libraries come first on LD_LIBRARY_PATH,
# whichever way ctest is started. The test renderer.pinned checks that it really loaded, and
# every other test needs it, so a missing or broken renderer fails the suite with how to set it
# up instead of running quietly on the system's OpenGL.
set(ZIBU_RENDERER_LIBDIR ${CMAKE_SOURCE_DIR}/.renderer/mesa/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
set(ZIBU_RENDERER_ENVIRONMENT "LD_LIBRARY_PATH=path_list_prepend:${ZIBU_RENDERER_LIBDIR}")
set(ZIBU_RENDERER_TEST_PROPERTIES
    ENVIRONMENT_MODIFICATION ${ZIBU_RENDERER_ENVIRONMENT} FIXTURES_REQUIRED pinned_renderer)

# The tests defined so far in the calling directory run on the pinned renderer.
function(zibu_tests_on_pinned_renderer)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests renderer.pinned)
  if(tests)
    set_tests_properties(${tests} PROPERTIES ${ZIBU_RENDERER_TEST_PROPERTIES})
  endif()
endfunction()
