# Install rules, the CMake package (find_package(ktif)) and pkg-config files.
include(CMakePackageConfigHelpers)

# Internal headers (the call frame, the exception guard, the unit table and the
# transform node kinds) stay in the source tree.
file(GLOB KRASTER_HEADERS ${PROJECT_SOURCE_DIR}/host/*.h ${PROJECT_SOURCE_DIR}/host/korvolog/*.h
     ${PROJECT_SOURCE_DIR}/host/epsg/epsg_translator.h ${PROJECT_SOURCE_DIR}/host/kmod/kmod.h)
foreach(internal kerr_frame.h kerr_guard.h kcvt_tables.h kxfr_nodes.h)
  list(REMOVE_ITEM KRASTER_HEADERS ${PROJECT_SOURCE_DIR}/host/${internal})
endforeach()
set(KTIF_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/ktif/ktif.h ${PROJECT_SOURCE_DIR}/ktif/ktif_export.h
    ${PROJECT_SOURCE_DIR}/kgtf/kgtf.h ${PROJECT_SOURCE_DIR}/kgtf/geokey_directory.h)

install(TARGETS korvolog kraster kmodlib kepsg ktif EXPORT ktifTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ktif_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KRASTER_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kraster)
install(FILES ${KTIF_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ktif)

install(EXPORT ktifTargets NAMESPACE ktif:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktif)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ktifConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ktifConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktif)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ktifConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ktifConfig.cmake ${PROJECT_BINARY_DIR}/ktifConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktif)

# pkg-config files locate the prefix relative to themselves, so an installed
# tree can be moved.
file(RELATIVE_PATH KTIF_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
foreach(pc kraster ktif)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
