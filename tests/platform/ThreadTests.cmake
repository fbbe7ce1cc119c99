# Labelled "threads": ./test.sh runs them once more under ThreadSanitizer.
tovel_add_test(ThreadTest SOURCES ThreadTest.cpp LIBS tovel_platform LABELS core threads)
# Labels given to tovel_add_test reach discovered tests only one at a time; the folder's label
# carries "threads" to every test here.
set_property(DIRECTORY APPEND PROPERTY LABELS threads)
