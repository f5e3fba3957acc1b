# Every dependency is a Debian package; the README's commands install them.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
find_package(PROJ REQUIRED CONFIG)
find_package(nlohmann_json REQUIRED)
find_package(CLI11 REQUIRED)

# libgeotiff ships neither a CMake package nor a pkg-config file on Debian.
find_path(GEOTIFF_INCLUDE_DIR geotiff.h PATH_SUFFIXES geotiff REQUIRED)
find_library(GEOTIFF_LIBRARY NAMES geotiff REQUIRED)
add_library(ktif_geotiff INTERFACE)
target_include_directories(ktif_geotiff INTERFACE ${GEOTIFF_INCLUDE_DIR})
target_link_libraries(ktif_geotiff INTERFACE ${GEOTIFF_LIBRARY} PkgConfig::TIFF)
