# libktif: the TIFF/GeoTIFF library. Everything is compiled once into an object
# library; the shared library exports only what carries KTIF_API, and the tests
# link the same objects statically to reach the internal functions.
file(GLOB KTIF_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/ktif/*.cpp ${PROJECT_SOURCE_DIR}/kgtf/*.cpp ${PROJECT_SOURCE_DIR}/geokeys/*.cpp)
add_library(ktif_objects OBJECT ${KTIF_SOURCES})
target_include_directories(ktif_objects PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/ktif> $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/kgtf>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/geokeys>)
target_compile_definitions(ktif_objects PRIVATE KTIF_BUILDING KTIF_VERSION_TEXT="${PROJECT_VERSION}")
set_target_properties(ktif_objects PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(ktif_objects PUBLIC kraster kraster_frame kmodlib kepsg ktif_geotiff PROJ::proj)

add_library(ktif SHARED $<TARGET_OBJECTS:ktif_objects>)
target_include_directories(ktif PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/ktif> $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/kgtf>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/geokeys> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/ktif>)
target_link_libraries(ktif PUBLIC kraster PRIVATE $<BUILD_INTERFACE:kraster_frame> kmodlib kepsg ktif_geotiff PROJ::proj)
# Clang leaves its sanitizer runtimes out of shared libraries (the executable
# brings them), so only other builds can insist that every symbol resolves.
if(NOT (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize"))
  target_link_options(ktif PRIVATE -Wl,--no-undefined)
endif()
target_link_options(ktif PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/ktif.map)
set_target_properties(ktif PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/ktif.map)
set_target_properties(ktif PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

# The same objects as a static library, for tests that call internal functions.
add_library(ktif_internal STATIC $<TARGET_OBJECTS:ktif_objects>)
target_link_libraries(ktif_internal PUBLIC ktif_objects)
