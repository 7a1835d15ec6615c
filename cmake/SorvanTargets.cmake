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

# sorvan_subsystem(name sources...): one static library per subsystem folder,
# linked whole into the plug-in and directly into the tests.
function(sorvan_subsystem name)
  add_library(sorvan_${name} STATIC ${ARGN})
  add_library(sorvan::${name} ALIAS sorvan_${name})
  target_include_directories(sorvan_${name} PUBLIC ${PROJECT_SOURCE_DIR}
                                                   ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(sorvan_${name} PUBLIC SORVAN_BUILDING)
  sorvan_defaults(sorvan_${name})
endfunction()
