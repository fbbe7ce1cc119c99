# Cache files and URL splitting: read by the news view, written by the refresh.
add_library(tovel_cache STATIC ${CMAKE_CURRENT_SOURCE_DIR}/CacheFiles.cpp)
target_link_libraries(tovel_cache PUBLIC tovel_platform)
set_property(GLOBAL APPEND PROPERTY TOVEL_CORE_LIBRARIES tovel_cache)
