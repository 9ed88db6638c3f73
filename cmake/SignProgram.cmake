# Signs a Windows program in place with Authenticode, SHA-256, without a
# timestamp server (the signature carries its signing time only):
#   cmake -DOSSLSIGNCODE=osslsigncode -DPKCS12=cert.p12 [-DPASSWORD_FILE=file] -DPROGRAM=x.exe -P SignProgram.cmake
# A signature the program already carries is replaced. On failure the
# program is removed, so an unsigned one never passes for a finished build.
set(args sign -pkcs12 ${PKCS12} -h sha256)
if(PASSWORD_FILE)
    list(APPEND args -readpass ${PASSWORD_FILE})
endif()
set(signed ${PROGRAM}.signed)
file(REMOVE ${signed})
execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${PROGRAM} -out ${signed}
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT rc EQUAL 0)
    file(REMOVE ${signed} ${PROGRAM})
    message(FATAL_ERROR "cannot sign ${PROGRAM} with ${PKCS12}:\n${output}")
endif()
file(RENAME ${signed} ${PROGRAM})
# osslsigncode's new file lacks the executable bit the linker gave it.
file(CHMOD ${PROGRAM} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
