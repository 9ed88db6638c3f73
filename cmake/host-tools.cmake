# Programs of the build machine (the publishing tool and its tests) are a
# project of their own, configured with the native compilers: the Windows
# toolchain of this build never reaches them. It reuses the minizip source
# package this build fetched.
include(ExternalProject)
set(HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host)
set(PUBLISH_TOOL ${HOST_TOOLS_DIR}/fenmora-publish)
ExternalProject_Add(host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/publish
    BINARY_DIR ${HOST_TOOLS_DIR}
    CMAKE_ARGS -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
               -DMINIZIP_SOURCE_DIR=${MINIZIP_SOURCE_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${PUBLISH_TOOL} ${HOST_TOOLS_DIR}/publish_tool_tests)
