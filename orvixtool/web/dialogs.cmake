# The web dialogs: shop login, failed login and the database choice. Included by this folder's
# CMakeLists.txt after devod_web is defined.
get_filename_component(devod_web_dialogs_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)

add_library(devod_web_dialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/http_login_dlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/failed_login_dlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/select_db_dlg.cpp
)
set_target_properties(devod_web_dialogs PROPERTIES AUTOMOC ON)
target_include_directories(devod_web_dialogs PUBLIC ${devod_web_dialogs_root})
target_link_libraries(devod_web_dialogs PUBLIC devod_skin devod_web Qt6::Widgets project_options)
