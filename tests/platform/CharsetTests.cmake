# Charset conversion to UTF-8 (iconv) and UTF-8 repair.
tovel_add_test(CharsetTest SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CharsetTest.cpp LIBS tovel_platform LABELS core)
