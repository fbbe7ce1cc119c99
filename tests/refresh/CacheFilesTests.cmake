tovel_add_test(CacheFilesTest SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CacheFilesTest.cpp LIBS tovel_cache LABELS core)
