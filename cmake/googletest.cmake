# GoogleTest built from Debian's source package (googletest, /usr/src/googletest)
# with the project's own compiler. Cross builds need it: the installed
# libgtest is for the host only.
set(CLICKTRACK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source folder")
if(NOT EXISTS ${CLICKTRACK_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${CLICKTRACK_GTEST_SOURCE} "
                      "(apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${CLICKTRACK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
  if(TARGET ${lib} AND NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
