# A caller's build, in miniature: a C program that includes the public header
# and references every function it declares, linked against the import
# library. In the 32-bit build this proves that the header's WINAPI
# declarations and the import library's stdcall names agree, without running.
function(kx_add_link_check target header library)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REGEX MATCHALL "WINAPI[ \t\n]+KX_[A-Za-z0-9_]+" decls "${text}")
  get_filename_component(header_name ${header} NAME)
  set(source "/* Generated from ${header_name}. */\n#include <${header_name}>\n\ntypedef void (WINAPI *any_export)(void);\nstatic const any_export every_export[] = {\n")
  foreach(decl ${decls})
    string(REGEX REPLACE "WINAPI[ \t\n]+" "" name "${decl}")
    string(APPEND source "    (any_export)&${name},\n")
  endforeach()
  string(APPEND source "    0\n};\n\nint main(void) {\n  int n = 0;\n  while (every_export[n]) ++n;\n  return n > 0 ? 0 : 1;\n}\n")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.c "${source}")
  add_executable(${target} ${CMAKE_CURRENT_BINARY_DIR}/${target}.c)
  target_link_libraries(${target} PRIVATE ${library})
  target_compile_options(${target} PRIVATE ${KX_WARNINGS} -std=c99 -pedantic)
  target_link_options(${target} PRIVATE -static)
endfunction()
