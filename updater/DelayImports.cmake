# Delay-loaded imports of system DLLs. The updater runs elevated from a folder
# users can write; a DLL it imports statically is searched for in that folder
# first unless it is one of the system's KnownDLLs, before any code of ours
# runs. Imported through these libraries instead, such a DLL is loaded on the
# first call into it, after WinMain has limited the search to the system
# folder (SystemDllSearch.h).
#
# fernup_delay_import(name function...): an INTERFACE target name_delay, to be
# linked before the system library `name`, through which the listed functions
# are delay-loaded. A function of the DLL that is not listed comes from the
# system library as before, statically imported; the program's file check
# (tests/security) fails then.
function(fernup_delay_import name)
  find_library(FERNUP_IMPORT_${name} NAMES lib${name}.a REQUIRED)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/delay-import)
  set(def ${folder}/${name}.def)
  set(asm ${folder}/${name}_stubs.s)
  set(stubs ${folder}/${name}_stubs.o)
  set(library ${folder}/lib${name}_delay.a)
  file(MAKE_DIRECTORY ${folder})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(bits 32)
    set(kill_at --kill-at)
  else()
    set(bits 64)
    set(kill_at)
  endif()
  add_custom_command(OUTPUT ${library} ${stubs}
    COMMAND sh ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delay-import.sh ${CMAKE_NM}
            ${FERNUP_IMPORT_${name}} ${name}.dll ${bits} ${def} ${asm} ${ARGN}
    # dlltool names the library's symbols after the path it is given: a
    # relative one keeps the build's folder out of the program.
    COMMAND ${CMAKE_DLLTOOL} --input-def ${name}.def --output-delaylib lib${name}_delay.a
            ${kill_at}
    COMMAND ${CMAKE_CXX_COMPILER} -c -x assembler ${name}_stubs.s -o ${name}_stubs.o
    DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delay-import.sh ${FERNUP_IMPORT_${name}}
    WORKING_DIRECTORY ${folder}
    COMMENT "Delay-import library for ${name}.dll"
    VERBATIM)
  add_custom_target(${name}_delay_library DEPENDS ${library} ${stubs})
  # The stubs' object first, so that the library's members are pulled in.
  add_library(${name}_delay INTERFACE)
  target_link_libraries(${name}_delay INTERFACE ${stubs} ${library})
  add_dependencies(${name}_delay ${name}_delay_library)
endfunction()
