# tovel_news: feed recognition, item extraction and the news page.
add_library(tovel_news STATIC ${CMAKE_CURRENT_SOURCE_DIR}/NewsTypeCls.cpp ${CMAKE_CURRENT_SOURCE_DIR}/NewsPage.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/NewsText.cpp)
target_link_libraries(tovel_news PUBLIC tovel_xml tovel_dates tovel_cache tovel_catalogue tovel_platform)
set_property(GLOBAL APPEND PROPERTY TOVEL_CORE_LIBRARIES tovel_news)

# The page templates go beside every program that renders news: the tools' folder (tovel-inspect)
# and the application's. Copied again whenever a template changes.
file(GLOB TOVEL_NEWS_TEMPLATES CONFIGURE_DEPENDS ${TOVEL_TEMPLATE_DIR}/*.html)
set(TOVEL_NEWS_TEMPLATE_COPIES)
foreach(folder ${CMAKE_BINARY_DIR}/tools ${CMAKE_BINARY_DIR}/src/app)
    foreach(template ${TOVEL_NEWS_TEMPLATES})
        get_filename_component(name ${template} NAME)
        add_custom_command(OUTPUT ${folder}/template/${name}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/template
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${template} ${folder}/template/${name}
            DEPENDS ${template}
            COMMENT "Copying template/${name} to ${folder}")
        list(APPEND TOVEL_NEWS_TEMPLATE_COPIES ${folder}/template/${name})
    endforeach()
endforeach()
add_custom_target(tovel_news_templates ALL DEPENDS ${TOVEL_NEWS_TEMPLATE_COPIES})
# Whatever links the news library gets its templates, even when built alone.
add_dependencies(tovel_news tovel_news_templates)
