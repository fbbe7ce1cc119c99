# The freshness rule, the refresh thread and the controller the main window drives it with.
add_library(tovel_refresh STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/FeedsRefresh.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Freshness.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/RefreshController.cpp)
target_link_libraries(tovel_refresh PUBLIC tovel_net tovel_cache tovel_dates tovel_catalogue tovel_platform)
set_property(GLOBAL APPEND PROPERTY TOVEL_CORE_LIBRARIES tovel_refresh)
