# Locates the system libraries the suite builds against (Debian packages,
# installed by scripts/install-deps.sh) and wraps the ones without CMake
# packages in imported targets.

find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)

function(quill_import_library target header lib)
  find_path(${target}_INCLUDE_DIR ${header} REQUIRED)
  find_library(${target}_LIBRARY ${lib} REQUIRED)
  add_library(${target} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION "${${target}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${${target}_INCLUDE_DIR}")
endfunction()

quill_import_library(Quill::FreeImage FreeImage.h freeimage)
quill_import_library(Quill::FreeImagePlus FreeImagePlus.h freeimageplus)
set_property(TARGET Quill::FreeImagePlus APPEND PROPERTY INTERFACE_LINK_LIBRARIES Quill::FreeImage)
quill_import_library(Quill::Cups cups/cups.h cups)
quill_import_library(Quill::CupsImage cups/raster.h cupsimage)
set_property(TARGET Quill::CupsImage APPEND PROPERTY INTERFACE_LINK_LIBRARIES Quill::Cups)

if(QUILL_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(QUILL_BUILD_BENCH)
  find_package(benchmark QUIET)
endif()
