# Signed releases. The publisher's public key rides in the exe as the
# RCDATA resource RELEASE_KEY (engine/ReleaseSignature.h): the libraries
# and the test programs stay in the mode without releases, and one build
# makes both kinds of installer.
#
# Included from app/CMakeLists.txt after the setup target. Also run as a
# script by the build:
#   cmake -DKEY_FILE=release-public.der -DRC_FILE=out.rc -P ReleaseKey.cmake
# reads the DER SubjectPublicKeyInfo of a P-256 key (what
# "fenmora-publish --new-key" writes) and writes a resource script with the
# point's X and Y.

if(CMAKE_SCRIPT_MODE_FILE)
    file(READ ${KEY_FILE} der HEX)
    # The fixed header of an uncompressed P-256 point in SubjectPublicKeyInfo.
    set(header "3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
    string(JOIN "" header ${header})
    string(LENGTH "${der}" length)
    string(SUBSTRING "${der}" 0 54 start)
    if(NOT length EQUAL 182 OR NOT start STREQUAL header)
        message(FATAL_ERROR "${KEY_FILE} is not a P-256 public key as fenmora-publish --new-key writes it")
    endif()
    # RCDATA numbers are 16-bit little-endian words.
    set(words "")
    foreach(offset RANGE 54 178 4)
        string(SUBSTRING "${der}" ${offset} 2 first)
        math(EXPR next "${offset} + 2")
        string(SUBSTRING "${der}" ${next} 2 second)
        list(APPEND words "0x${second}${first}")
    endforeach()
    string(JOIN ", " words ${words})
    file(WRITE ${RC_FILE} "// From ${KEY_FILE}: X and Y of the publisher's P-256 key.\n"
                          "RELEASE_KEY RCDATA\nBEGIN\n    ${words}\nEND\n")
    return()
endif()

set(SETUP_RELEASE_KEY "" CACHE FILEPATH
    "Public key file (release-public.der of fenmora-publish --new-key); the installer then installs only releases signed with its private key")

# add_release_key_resource(TARGET KEY_FILE): an object library with the key
# resource of the key file, remade when the file changes.
function(add_release_key_resource target key_file)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    add_custom_command(OUTPUT ${rc}
        COMMAND ${CMAKE_COMMAND} -DKEY_FILE=${key_file} -DRC_FILE=${rc} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        DEPENDS ${key_file} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        COMMENT "Release key resource from ${key_file}")
    add_library(${target} OBJECT ${rc})
endfunction()

# The installer of the demo and of the end-to-end suite: the same exe,
# carrying a key made at build time inside the build folder. The key is
# made once; its folder holds nothing else.
set(SETUP_DEMO_KEY_DIR ${CMAKE_BINARY_DIR}/demo-key)
# Where cmake/host-tools.cmake builds the publishing tool.
set(release_key_tool ${CMAKE_BINARY_DIR}/host/fenmora-publish)
add_custom_command(OUTPUT ${SETUP_DEMO_KEY_DIR}/release-public.der ${SETUP_DEMO_KEY_DIR}/release-private.pem
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${SETUP_DEMO_KEY_DIR}
    COMMAND ${release_key_tool} --new-key ${SETUP_DEMO_KEY_DIR}
    DEPENDS host_tools
    COMMENT "Demo release key in ${SETUP_DEMO_KEY_DIR}")
add_release_key_resource(setup_demo_key ${SETUP_DEMO_KEY_DIR}/release-public.der)

add_setup_variant(setup_signed_demo signed-demo $<TARGET_OBJECTS:setup_demo_key>)

# The shipped exe carries the publisher's key only when the setting names it.
if(SETUP_RELEASE_KEY)
    if(NOT EXISTS ${SETUP_RELEASE_KEY})
        message(FATAL_ERROR "SETUP_RELEASE_KEY: no file ${SETUP_RELEASE_KEY}")
    endif()
    file(SHA256 ${SETUP_RELEASE_KEY} release_key_fingerprint)
    message(STATUS "The installer takes only releases signed by the key with SHA-256 ${release_key_fingerprint}")
    add_release_key_resource(setup_release_key ${SETUP_RELEASE_KEY})
    target_sources(setup PRIVATE $<TARGET_OBJECTS:setup_release_key>)
endif()
