# Beside each DLL's mingw import library (lib<name>.dll.a), the import library
# that MSVC-family linkers (link.exe, lld-link) read: <name>.lib, in the COFF
# short-import format, written by llvm-dlltool from the same export list. In
# the 32-bit build that list is the stdcall-decorated one the mingw import
# library was just rebuilt from, and -k makes each import undecorate to the
# plain name the DLL exports.
find_program(KX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

function(kx_add_msvc_implib target def_file)
  set(out $<TARGET_LINKER_FILE_DIR:${target}>/${target}.lib)
  if(KX_64BIT)
    set(args -m i386:x86-64 -d ${def_file})
  else()
    set(args -m i386 -k -d ${CMAKE_CURRENT_BINARY_DIR}/${target}.implib/decorated.def)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KX_LLVM_DLLTOOL} ${args} -D $<TARGET_FILE_NAME:${target}> -l ${out}
    VERBATIM)
endfunction()
