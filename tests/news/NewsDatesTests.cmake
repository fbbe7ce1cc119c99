tovel_add_test(NewsDatesTest SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NewsDatesTest.cpp LIBS tovel_dates LABELS core)
