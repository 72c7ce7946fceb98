# Run after the 32-bit link. The linker's own import library names each
# function without its stdcall decoration, so a caller compiling against our
# header (which asks for _KX_Name@N) could not link. Rebuild the import
# library from the decorated symbols of our objects: symbols keep @N, the
# imported names stay plain, ordinals stay as the .def fixes them.
#   -DNM=... -DDLLTOOL=... -DDEF=plain.def -DOBJECTS=a|b -DDLL_NAME=x.dll -DOUT=libx.dll.a -DWORK=dir
string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
list(FILTER OBJECTS INCLUDE REGEX "\\.obj$")
execute_process(COMMAND ${NM} --defined-only ${OBJECTS} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${OBJECTS}")
endif()
file(STRINGS ${DEF} lines)
set(decorated "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(line ${lines})
  if(line MATCHES "^[ \t]+([A-Za-z0-9_]+)[ \t]+@([0-9]+)(.*)$")
    set(name ${CMAKE_MATCH_1})
    set(ordinal ${CMAKE_MATCH_2})
    # NONAME and friends stay: an export by ordinal only must be imported by
    # ordinal only.
    string(STRIP "${CMAKE_MATCH_3}" flags)
    if(symbols MATCHES " T _${name}@([0-9]+)\n")
      string(APPEND decorated "    ${name}@${CMAKE_MATCH_1} @${ordinal} ${flags}\n")
    else()
      message(FATAL_ERROR "no stdcall symbol for export ${name}")
    endif()
  endif()
endforeach()
file(WRITE ${WORK}/decorated.def "${decorated}")
# The same bytes from any build folder: dlltool names the library's members
# after its temporary prefix (else taken from its process id) and its symbols
# after the output path as given, so that is given as a bare file name.
get_filename_component(out_dir ${OUT} DIRECTORY)
get_filename_component(out_name ${OUT} NAME)
execute_process(COMMAND ${DLLTOOL} -k --temp-prefix ${DLL_NAME} -d ${WORK}/decorated.def -D ${DLL_NAME} -l ${out_name}
  WORKING_DIRECTORY ${out_dir} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool failed")
endif()
