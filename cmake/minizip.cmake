# minizip from Debian's source package (cmake/MinizipSource.cmake), compiled
# here for the target.
include(${CMAKE_CURRENT_LIST_DIR}/MinizipSource.cmake)

find_package(ZLIB REQUIRED)

add_library(minizip STATIC
    ${MINIZIP_SOURCE_DIR}/ioapi.c
    ${MINIZIP_SOURCE_DIR}/iowin32.c
    ${MINIZIP_SOURCE_DIR}/unzip.c
    ${MINIZIP_SOURCE_DIR}/zip.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_SOURCE_DIR})
target_compile_definitions(minizip PUBLIC NOCRYPT NOUNCRYPT)
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
