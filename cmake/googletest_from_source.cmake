# GoogleTest for a cross build: compiled from Debian's sources with the target's compiler, since
# the host's installed libraries cannot link into Windows programs. Defines GTest::gtest and
# GTest::gtest_main as find_package(GTest) would.
set(ZEPHOR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${ZEPHOR_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZEPHOR_GTEST_SOURCE} "
                      "(scripts/install-windows-deps installs them)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${ZEPHOR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
