# The Windows DLLs as files, read with the cross binutils:
#
#   cmake -DOBJDUMP=... -DSTRINGS=... -DPLUGIN=sorvan_view.dll
#         -DPLUGIN_EXPORTS=frame/exports.txt -DHOST=plexa.dll
#         -DHOST_EXPORTS=host/exports.txt -P windows_artifact_test.cmake
#
# - each DLL is a 32-bit x86 image that exports nothing beyond its export
#   list and no decorated or mangled name (plugin_test resolves the list);
# - each imports only Windows system DLLs; the plug-in also imports
#   plexa.dll, and from it only host operations, never the stand-in's own
#   setup interface;
# - the plug-in's version resource holds its four texts.
# The patch level's entry and the banner, "@(#)" strings of the file
# included, are plugin_test's, on both systems.
# Every fault found is reported; the test fails when there is any.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP STRINGS PLUGIN PLUGIN_EXPORTS HOST HOST_EXPORTS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "windows_artifact_test.cmake needs -D${var}=...")
  endif()
endforeach()

set(faults "")
macro(fault text)
  string(APPEND faults "  ${text}\n")
endmacro()

# Runs a tool; its output as a list of lines, with the list-breaking
# characters [ ] ; taken out.
function(tool_lines out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc}): ${err}")
  endif()
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(export_list file out)
  file(STRINGS ${file} names REGEX "^[A-Za-z_]")
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# Reads `objdump -p` of dll into: <prefix>_exports (sorted names),
# <prefix>_dlls (imported DLLs) and <prefix>_from_<dll> (names imported
# from it, DLL name lower case).
function(read_pe dll prefix)
  tool_lines(lines ${OBJDUMP} -p ${dll})
  set(section "")
  set(exports "")
  set(dlls "")
  set(dll_name "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^<Ordinal/Name Pointer> Table")
      set(section names)
    elseif(line MATCHES "^[ \t]*DLL Name: (.+)$")
      set(section imports)
      set(dll_name "${CMAKE_MATCH_1}")
      string(TOLOWER "${dll_name}" dll_key)
      list(APPEND dlls "${dll_name}")
      set(${prefix}_from_${dll_key} "" PARENT_SCOPE)
      set(from "")
    elseif(line STREQUAL "")
      if(section STREQUAL "imports")
        set(${prefix}_from_${dll_key} "${from}" PARENT_SCOPE)
      endif()
      set(section "")
    elseif(section STREQUAL "names" AND line MATCHES "^[ \t]*< *([0-9]+)> (.+)$")
      list(APPEND exports "${CMAKE_MATCH_2}")
    elseif(section STREQUAL "imports" AND line MATCHES "^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+([^ \t]+)$")
      list(APPEND from "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(SORT exports)
  set(${prefix}_exports "${exports}" PARENT_SCOPE)
  set(${prefix}_dlls "${dlls}" PARENT_SCOPE)
endfunction()

# The DLLs a 32-bit Windows installation always has.
set(system_dlls kernel32.dll msvcrt.dll ntdll.dll advapi32.dll user32.dll)

macro(check_image dll prefix list_file)
  get_filename_component(short ${dll} NAME)
  tool_lines(head ${OBJDUMP} -f ${dll})
  if(NOT "${head}" MATCHES "file format pei-i386")
    fault("${short} is not a 32-bit x86 Windows image")
  endif()
  read_pe(${dll} ${prefix})
  export_list(${list_file} wanted) # each is resolved by plugin_test
  foreach(name IN LISTS ${prefix}_exports)
    if(name MATCHES "[@?]|^_Z|^_[A-Za-z]")
      fault("${short}: decorated or mangled export ${name}")
    elseif(NOT name IN_LIST wanted)
      fault("${short}: unexpected export ${name}")
    endif()
  endforeach()
  foreach(import IN LISTS ${prefix}_dlls)
    string(TOLOWER "${import}" key)
    if(NOT key IN_LIST system_dlls AND NOT ("${prefix}" STREQUAL "plugin" AND key STREQUAL "plexa.dll"))
      fault("${short} imports ${import}, which is neither a system DLL nor the host's")
    endif()
  endforeach()
endmacro()

check_image(${PLUGIN} plugin ${PLUGIN_EXPORTS})
check_image(${HOST} host ${HOST_EXPORTS})

if(NOT "plexa.dll" IN_LIST plugin_dlls)
  fault("sorvan_view.dll does not import plexa.dll by that name")
endif()
export_list(${HOST_EXPORTS} host_wanted)
foreach(name IN LISTS plugin_from_plexa.dll)
  if(name MATCHES "^plexa_")
    fault("sorvan_view.dll imports ${name}, which only the stand-in host's own users may call")
  elseif(NOT name IN_LIST host_wanted)
    fault("sorvan_view.dll imports ${name}, which plexa.dll does not export")
  endif()
endforeach()

# Version resource: each key's string is followed by its value's.
tool_lines(wide ${STRINGS} -a -el ${PLUGIN})
foreach(pair "FileVersion=2005.2.0" "ProductVersion=2005.2.0" "InternalName=sorvan_view.dll"
             "FileDescription=Built on 2005-07-11 23:46:29")
  string(REPLACE "=" ";" kv "${pair}")
  list(GET kv 0 key)
  list(GET kv 1 value)
  list(FIND wide "${key}" at)
  set(found "")
  if(at GREATER_EQUAL 0)
    math(EXPR next "${at} + 1")
    list(LENGTH wide count)
    if(next LESS count)
      list(GET wide ${next} found)
    endif()
  endif()
  if(NOT found STREQUAL value)
    fault("version resource: ${key} is \"${found}\", not \"${value}\"")
  endif()
endforeach()

if(faults)
  message(FATAL_ERROR "the Windows DLLs are not as they should be:\n${faults}")
endif()
message(STATUS "exports, imports and version resource as they should be")
