# Build settings shared by every target of the project.
#
# Numbers must come out bit for bit the same on every build, so contraction of
# multiply-adds is switched off everywhere and nothing enables fast-math or
# host-specific instruction sets.
add_compile_options(-ffp-contract=off)

# The 32-bit Windows build: SSE arithmetic instead of the x87 unit (whose
# 80-bit intermediates round differently from every other build), MinGW's
# own formatted output (the same texts as glibc's) and a statically linked
# runtime, so that the DLLs import nothing but Windows system DLLs and the
# host library.
if(WIN32)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    message(FATAL_ERROR "the Windows build is 32-bit only (use the i686 toolchain file)")
  endif()
  add_compile_options(-msse2 -mfpmath=sse)
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
  add_link_options(-static)
endif()

if(SORVAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# sorvan_defaults(target): warnings as private options of one target.
function(sorvan_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# sorvan_strict(target): for the code that ships (the plug-in's subsystems,
# the stand-in host, the front end and the analysis library) also every
# narrowing conversion and every shadowed name.
function(sorvan_strict target)
  sorvan_defaults(${target})
  target_compile_options(${target} PRIVATE -Wshadow -Wconversion -Wsign-conversion)
endfunction()

# sorvan_subsystem(name sources...): one subsystem folder. Its sources are
# compiled once, as the object library sorvan_<name>_objects, which the
# plug-in takes whole; the static library sorvan::<name> holds the same
# objects for the tests and tools that link subsystems directly.
function(sorvan_subsystem name)
  add_library(sorvan_${name}_objects OBJECT ${ARGN})
  add_library(sorvan_${name} STATIC $<TARGET_OBJECTS:sorvan_${name}_objects>)
  add_library(sorvan::${name} ALIAS sorvan_${name})
  foreach(target sorvan_${name}_objects sorvan_${name})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
    target_compile_definitions(${target} PUBLIC SORVAN_BUILDING)
  endforeach()
  sorvan_strict(sorvan_${name}_objects)
  set_property(GLOBAL APPEND PROPERTY SORVAN_SUBSYSTEMS ${name})
endfunction()

# sorvan_export_list(target list_file [ALIAS name=entry ...]): only the names
# of list_file (one per line, '#' starts a comment line) leave the shared
# library target, undecorated. The list becomes a linker version script on
# Linux and a module-definition (.def) file on Windows. An ALIAS name of the
# list is exported on Windows as a second name of the listed entry (the
# Linux build gets the same from the alias attribute in the source).
function(sorvan_export_list target list_file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ALIAS")
  file(STRINGS ${list_file} names REGEX "^[A-Za-z_]")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  if(WIN32)
    sorvan_export_def(${target} "${names}" "${arg_ALIAS}")
    return()
  endif()
  set(script_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  set(script "{\n  global:\n")
  foreach(name IN LISTS names)
    string(APPEND script "    ${name};\n")
  endforeach()
  string(APPEND script "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT ${script_file} CONTENT "${script}")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${script_file}" -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script_file})
endfunction()

# The Windows half of sorvan_export_list: a .def file that names every entry
# of the list, an alias as "name = entry". --exclude-all-symbols keeps the
# linker from exporting anything on its own (it would export every global
# symbol of a DLL that names no exports), so the export table is the list
# and nothing else.
function(sorvan_export_def target names aliases)
  set(def_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  set(def "EXPORTS\n")
  foreach(name IN LISTS names)
    set(line "${name}")
    foreach(alias IN LISTS aliases)
      if(alias MATCHES "^${name}=(.+)$")
        set(line "${name} = ${CMAKE_MATCH_1}")
      endif()
    endforeach()
    string(APPEND def "    ${line}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${def_file} CONTENT "${def}")
  target_sources(${target} PRIVATE ${def_file})
  target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${def_file})
endfunction()
