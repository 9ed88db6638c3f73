# Authenticode signing (SHA-256) of the programs that ship, when the build
# is given a code-signing certificate. The password is read from a file so
# that it stays out of the cache, build.ninja and the process list.
set(SETUP_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key; empty: nothing is signed")
set(SETUP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "file holding the PKCS#12 file's password; empty: it has none")

if(SETUP_SIGN_PKCS12)
    if(NOT EXISTS ${SETUP_SIGN_PKCS12})
        message(FATAL_ERROR "SETUP_SIGN_PKCS12: no file ${SETUP_SIGN_PKCS12}")
    endif()
    if(SETUP_SIGN_PASSWORD_FILE AND NOT EXISTS ${SETUP_SIGN_PASSWORD_FILE})
        message(FATAL_ERROR "SETUP_SIGN_PASSWORD_FILE: no file ${SETUP_SIGN_PASSWORD_FILE}")
    endif()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# Signs the program as the last step of its link, after the strip that the
# link itself does: anything changed later would break the signature.
function(sign_program target)
    if(NOT SETUP_SIGN_PKCS12)
        return()
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DPKCS12=${SETUP_SIGN_PKCS12}
                -DPASSWORD_FILE=${SETUP_SIGN_PASSWORD_FILE} -DPROGRAM=$<TARGET_FILE:${target}>
                -P ${PROJECT_SOURCE_DIR}/cmake/SignProgram.cmake
        COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
        VERBATIM)
    # A new certificate re-signs: the program is linked again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${SETUP_SIGN_PKCS12})
endfunction()
