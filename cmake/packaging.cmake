# `cmake --install` lays the library out the way Windows C libraries ship:
#   bin/                       KX_Pellam.dll, KX_Brindel.dll (and kxcall.exe)
#   lib/                       libKX_*.dll.a for mingw, KX_*.lib for MSVC-family linkers
#   lib/cmake/KX_Pellam/       find_package(KX_Pellam): KX::Pellam, KX::Brindel
#   include/                   KX_Pellam.h, KX_Brindel.h (KX_Pellam.nsh, KX_Pellam.wxs and its wixl fix-up)
include(CMakePackageConfigHelpers)

install(TARGETS KX_Pellam KX_Brindel RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES $<TARGET_LINKER_FILE_DIR:KX_Pellam>/KX_Pellam.lib
  $<TARGET_LINKER_FILE_DIR:KX_Brindel>/KX_Brindel.lib DESTINATION lib)
install(FILES ${CMAKE_SOURCE_DIR}/include/KX_Pellam.h
  ${CMAKE_SOURCE_DIR}/brindel/include/KX_Brindel.h DESTINATION include)
# The WiX fragment of the two DLLs as shared Installer components, and the
# fix-up of what wixl leaves out of it, beside the header and the NSIS include.
install(FILES ${CMAKE_SOURCE_DIR}/wix/KX_Pellam.wxs DESTINATION include)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/wix/KX_Pellam-wixl-fixup.sh DESTINATION include)

# The command-line front end ships beside the DLLs once its target exists.
if(TARGET kxcall)
  install(TARGETS kxcall RUNTIME DESTINATION bin)
endif()

# The project's one version number. The version file also records the pointer
# size, so a 32-bit consumer never picks up the 64-bit tree or the other way round.
set(KX_PACKAGE_VERSION_FILE ${CMAKE_BINARY_DIR}/package/KX_PellamConfigVersion.cmake)
write_basic_package_version_file(${KX_PACKAGE_VERSION_FILE} VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/KX_PellamConfig.cmake ${KX_PACKAGE_VERSION_FILE}
  DESTINATION lib/cmake/KX_Pellam)
