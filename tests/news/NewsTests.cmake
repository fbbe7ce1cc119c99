# Feed recognition, item extraction, sorting and the news page.
tovel_add_test(NewsTypeClsTest
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NewsTypeClsTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/NewsPageTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/NewsTextTest.cpp
    LIBS tovel_news LABELS core)
