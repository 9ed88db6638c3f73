# minizip comes from Debian's source package; it is fetched into the build
# tree (or named with MINIZIP_SOURCE_DIR) and compiled by the project that
# needs it, never copied into the repository. Sets MINIZIP_SOURCE_DIR.
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
