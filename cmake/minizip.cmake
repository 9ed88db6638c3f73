# minizip comes from Debian's source package; it is fetched into the build
# tree and compiled here for the target, never copied into the repository.
set(MINIZIP_SOURCE_DIR "" CACHE PATH "Unpacked minizip source package (fetched when empty)")

if(NOT MINIZIP_SOURCE_DIR)
    set(_deps ${CMAKE_BINARY_DIR}/_deps)
    file(GLOB _found LIST_DIRECTORIES true ${_deps}/minizip-*)
    if(NOT _found)
        file(MAKE_DIRECTORY ${_deps})
        message(STATUS "Fetching the minizip source package with apt-get source")
        execute_process(COMMAND apt-get source -qq minizip
                        WORKING_DIRECTORY ${_deps}
                        RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "apt-get source minizip failed; run tools/bootstrap.sh first")
        endif()
        file(GLOB _found LIST_DIRECTORIES true ${_deps}/minizip-*)
    endif()
    list(FILTER _found EXCLUDE REGEX "\\.(tar|dsc)")
    list(GET _found 0 _dir)
    set(MINIZIP_SOURCE_DIR ${_dir} CACHE PATH "" FORCE)
endif()

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
