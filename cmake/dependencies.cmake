# Locates the libraries that scripts/deps.sh prepared or apt installed.

if(WIN32)
  set(_orbex_sdl3_prefix "${ORBEX_DEPS_DIR}/sdl3-windows/prefix")
else()
  set(_orbex_sdl3_prefix "${ORBEX_DEPS_DIR}/sdl3-3.2.10+ds-1/prefix")
endif()
set(ORBEX_SDL3_PREFIX "${_orbex_sdl3_prefix}" CACHE PATH "installed SDL3")
set(ORBEX_IMGUI_DIR "${ORBEX_DEPS_DIR}/imgui-1.92.2b+ds-1/src" CACHE PATH "Dear ImGui source folder")
set(ORBEX_WEBVIEW_DIR "${ORBEX_DEPS_DIR}/webview-bun-2.4.0/lib" CACHE PATH "prebuilt webview library folder")

find_package(SDL3 REQUIRED CONFIG PATHS "${ORBEX_SDL3_PREFIX}" NO_DEFAULT_PATH)

find_package(PkgConfig REQUIRED)
if(WIN32)
  # The cross-built FFmpeg is a set of static libraries: link them with
  # everything they need themselves.
  set(ENV{PKG_CONFIG_LIBDIR} "${ORBEX_DEPS_DIR}/ffmpeg-windows/prefix/lib/pkgconfig")
  pkg_check_modules(FFMPEG REQUIRED libavcodec libavutil libswscale)
  add_library(PkgConfig::FFMPEG INTERFACE IMPORTED)
  target_include_directories(PkgConfig::FFMPEG INTERFACE ${FFMPEG_STATIC_INCLUDE_DIRS})
  target_link_directories(PkgConfig::FFMPEG INTERFACE ${FFMPEG_STATIC_LIBRARY_DIRS})
  target_link_libraries(PkgConfig::FFMPEG INTERFACE ${FFMPEG_STATIC_LIBRARIES})
else()
  pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
endif()

if(NOT EXISTS "${ORBEX_IMGUI_DIR}/imgui.h")
  message(FATAL_ERROR "Dear ImGui sources not found in ${ORBEX_IMGUI_DIR}; run scripts/deps.sh")
endif()
add_library(imgui STATIC
  ${ORBEX_IMGUI_DIR}/imgui.cpp
  ${ORBEX_IMGUI_DIR}/imgui_draw.cpp
  ${ORBEX_IMGUI_DIR}/imgui_tables.cpp
  ${ORBEX_IMGUI_DIR}/imgui_widgets.cpp
  ${ORBEX_IMGUI_DIR}/backends/imgui_impl_sdl3.cpp
  ${ORBEX_IMGUI_DIR}/backends/imgui_impl_sdlrenderer3.cpp)
# SYSTEM keeps the library's own warnings out of our builds.
target_include_directories(imgui SYSTEM PUBLIC ${ORBEX_IMGUI_DIR} ${ORBEX_IMGUI_DIR}/backends)
target_link_libraries(imgui PUBLIC SDL3::SDL3)
target_include_directories(imgui PUBLIC ${CMAKE_CURRENT_LIST_DIR}/imgui)
target_compile_definitions(imgui PUBLIC IMGUI_USER_CONFIG="orbex_imconfig.h")
file(STRINGS "${ORBEX_IMGUI_DIR}/imgui.h" _imgui_version_line REGEX "^#define IMGUI_VERSION ")
message(STATUS "Dear ImGui: ${_imgui_version_line}")

if(NOT WIN32)
  pkg_check_modules(GTK4 IMPORTED_TARGET gtk4)
endif()
