# Makes a delay-import library from a mingw import library: the same
# symbols, but the DLL is loaded at the first call instead of at start-up.
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIB=libx.a -DDLL_NAME=x.dll -DOUTPUT=.../libx.a -P DelayImport.cmake
# Also writes OUTPUT.ld, a linker script that keeps every thunk: ld drops
# the thunk of a function called only through its __imp_ pointer (what
# dllimport declarations compile to), and the delay-import slot, which
# starts out pointing into that thunk, would then hold 0.
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read ${IMPORT_LIB}")
endif()
string(REGEX MATCHALL "I __imp__[^\n]+" imports "${symbols}")
set(def "LIBRARY ${DLL_NAME}\nEXPORTS\n")
set(keep "EXTERN(")
foreach(entry IN LISTS imports)
    string(REGEX REPLACE "^I __imp__" "" name "${entry}")
    string(APPEND def "${name}\n")
    string(APPEND keep "\n    \"_${name}\"")
endforeach()
string(APPEND keep ")\n")
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUTPUT}.def "${def}")
file(WRITE ${OUTPUT}.ld "${keep}")
# --kill-at: the stdcall decorations stay on the symbols, not on the names
# the DLL is asked for.
execute_process(COMMAND ${DLLTOOL} --kill-at --input-def ${OUTPUT}.def --dllname ${DLL_NAME}
                        --output-delaylib ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dlltool failed for ${DLL_NAME}")
endif()
