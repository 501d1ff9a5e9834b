# The target velmo_quick builds what the quick tests run and nothing else,
# so that `scripts/test --quick` skips the rest of the build.
# velmo_quick_needs(TARGET...) adds targets to it.
add_custom_target(velmo_quick)
function(velmo_quick_needs)
    add_dependencies(velmo_quick ${ARGN})
endfunction()

# velmo_add_gtest(NAME SOURCES ... [LIBS ...] [LOCK resource] [LABEL label])
#
# Builds one GoogleTest program into build/tests/bin, linked with the shared
# test helpers (tests/support), and registers each of its cases with CTest.
# Cases that share an on-disk fixture (the tagger's test site, say) name it
# with LOCK so that ctest -j never runs them at once.
# Every case carries LABEL, quick when none is given: `ctest -L quick` runs
# the fast ones (and velmo_quick builds their programs), e2e names the
# tagger's runs on real archives.
# Parameter values stay out of the case names (NO_PRETTY_VALUES): a const
# char * parameter would print as its address, which changes every build.
function(velmo_add_gtest name)
    cmake_parse_arguments(ARG "" "LOCK;LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_LABEL)
        set(ARG_LABEL quick)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmo_test_support GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    set(props LABELS ${ARG_LABEL})
    if(ARG_LOCK)
        list(APPEND props RESOURCE_LOCK ${ARG_LOCK})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES PROPERTIES ${props})
    if(ARG_LABEL STREQUAL quick)
        velmo_quick_needs(${name})
    endif()
endfunction()
