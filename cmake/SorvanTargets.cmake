# Build settings shared by every target of the project.
#
# Numbers must come out bit for bit the same on every build, so contraction of
# multiply-adds is switched off everywhere and nothing enables fast-math or
# host-specific instruction sets.
add_compile_options(-ffp-contract=off)

if(SORVAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# sorvan_defaults(target): warnings as private options of one target.
function(sorvan_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
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
  sorvan_defaults(sorvan_${name}_objects)
  set_property(GLOBAL APPEND PROPERTY SORVAN_SUBSYSTEMS ${name})
endfunction()

# sorvan_export_list(target list_file): only the names of list_file (one per
# line, '#' starts a comment line) leave the shared library target. The list
# becomes a linker version script here.
function(sorvan_export_list target list_file)
  file(STRINGS ${list_file} names REGEX "^[A-Za-z_]")
  set(script_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  set(script "{\n  global:\n")
  foreach(name IN LISTS names)
    string(APPEND script "    ${name};\n")
  endforeach()
  string(APPEND script "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT ${script_file} CONTENT "${script}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  target_link_options(${target} PRIVATE "-Wl,--version-script=${script_file}" -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script_file})
endfunction()
