# News dates and the age filter: used by the news page and by the refresh (Last-Modified).
add_library(tovel_dates STATIC ${CMAKE_CURRENT_SOURCE_DIR}/NewsDates.cpp)
target_link_libraries(tovel_dates PUBLIC tovel_platform)
set_property(GLOBAL APPEND PROPERTY TOVEL_CORE_LIBRARIES tovel_dates)
