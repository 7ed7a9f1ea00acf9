# The other architecture's mail sender, built in a tree of its own inside
# this one with that architecture's toolchain, so that Glean can carry both
# builds of the same sources. Sets HERMOD64_EXE and HERMOD32_EXE.
include(ExternalProject)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(other x86)
else()
  set(other x64)
endif()
set(other_dir ${CMAKE_BINARY_DIR}/hermod-${other})
ExternalProject_Add(HermodOther
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${other_dir}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-${other}.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DGLEAN_HERMOD_ONLY=ON -DGLEAN_TEST_MAIL_SYSTEM=${GLEAN_BUILD_TESTS}
  # With the tests, the other architecture's test mail system as well.
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${other_dir}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${other_dir}/Hermod/Hermod.exe ${other_dir}/Tests/MapiProvider/TestMapiProvider.dll
  INSTALL_COMMAND "")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(HERMOD64_EXE ${CMAKE_BINARY_DIR}/Hermod/Hermod.exe)
  set(HERMOD32_EXE ${other_dir}/Hermod/Hermod.exe)
else()
  set(HERMOD64_EXE ${other_dir}/Hermod/Hermod.exe)
  set(HERMOD32_EXE ${CMAKE_BINARY_DIR}/Hermod/Hermod.exe)
endif()
set(OTHER_TEST_MAPI_PROVIDER ${other_dir}/Tests/MapiProvider/TestMapiProvider.dll)
