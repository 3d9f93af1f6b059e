# DevodTool's fuzz targets, included by fuzz/CMakeLists.txt: the UserSetting page taking the
# device's USB replies, and the web client taking a server's HTTP answers. The product's sources
# are compiled into each target with the fuzzing instrumentation, as the parser targets do.
find_package(Qt6 COMPONENTS Core)
find_package(PkgConfig)
if(PkgConfig_FOUND)
    pkg_check_modules(FUZZ_CURL IMPORTED_TARGET libcurl)
    pkg_check_modules(FUZZ_HTMLCXX IMPORTED_TARGET htmlcxx)
endif()

# A libPipeBridge whose two functions call back into the target that loaded it: the page's own
# dlopen of this file finds the target's device. It is a trampoline only, built without the
# fuzzing instrumentation so that it needs no runtime of its own.
add_library(fuzz_pipebridge MODULE usb_pages_bridge.cpp)
set_target_properties(fuzz_pipebridge PROPERTIES
    COMPILE_OPTIONS "-g;-O1"
    LINK_OPTIONS ""
    CXX_VISIBILITY_PRESET hidden
    PREFIX "lib"
    OUTPUT_NAME FuzzPipeBridge)

qv_fuzz_target(fuzz_usb_pages usb_pages.cpp
    ${root}/orvixtool/settingspage/user_setting_dlg.cpp
    ${root}/orvixtool/settingspage/device_exchange.cpp
    ${root}/orvixtool/settingspage/export_user_points.cpp
    ${root}/orvixtool/settingspage/serial_page.cpp
    ${root}/orvixtool/settingspage/serial_settings.cpp
    ${root}/orvixtool/settingspage/settings_codec.cpp
    ${root}/orvixtool/settingspage/user_point_export.cpp
    ${root}/orvixtool/devicelink/pipe_bridge.cpp
    ${root}/orvixtool/devicelink/usb_exchange.cpp
    ${root}/orvixtool/devicelink/connection_model.cpp
    ${root}/orvixtool/testsupport/fake_dialog.cpp
    ${root}/orvixtool/shell/progress_state.cpp
    ${root}/common/userpoints/points_file.cpp
    ${root}/qvlib/util/clock.cpp)
target_link_libraries(fuzz_usb_pages PRIVATE tinyxml2::tinyxml2 ${CMAKE_DL_LIBS})
target_compile_definitions(fuzz_usb_pages PRIVATE
    FUZZ_PIPEBRIDGE_LIBRARY="$<TARGET_FILE:fuzz_pipebridge>")
add_dependencies(fuzz_usb_pages fuzz_pipebridge)

if(Qt6Core_FOUND AND FUZZ_CURL_FOUND AND FUZZ_HTMLCXX_FOUND)
    qv_fuzz_target(fuzz_http_response http_response.cpp
        ${root}/orvixtool/web/http_client.cpp
        ${root}/orvixtool/web/web_config.cpp
        ${root}/orvixtool/web/file_place.cpp
        ${root}/orvixtool/web/link_extractor.cpp
        ${root}/orvixtool/config/registry.cpp
        ${root}/orvixtool/config/scramble.cpp
        ${root}/orvixtool/config/settings.cpp)
    target_link_libraries(fuzz_http_response PRIVATE Qt6::Core PkgConfig::FUZZ_CURL
                          PkgConfig::FUZZ_HTMLCXX)
else()
    message(STATUS "fuzz_http_response needs Qt6 Core, libcurl and htmlcxx; not built")
endif()
