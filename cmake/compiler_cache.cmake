# ccache where it is installed: a build in a fresh folder then compiles only what no build before
# it compiled, in this checkout or another. A launcher given on the command line is kept.
#
# A precompiled header hides from ccache which macros and time stamps a source sees, so ccache
# caches the sources that use one only when told to be sloppy about both.
if(ZEPHOR_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(ZEPHOR_CCACHE_PROGRAM ccache)
  if(ZEPHOR_CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${ZEPHOR_CCACHE_PROGRAM})
  endif()
endif()

if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache$")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER_LAUNCHER} --get-config sloppiness
                  OUTPUT_VARIABLE zephor_sloppiness OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(zephor_sloppiness)
    string(APPEND zephor_sloppiness ",")
  endif()
  string(APPEND zephor_sloppiness "pch_defines,time_macros")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=${zephor_sloppiness}
                                  ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
