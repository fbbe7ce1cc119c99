# Labelled "threads": ./test.sh runs them once more under ThreadSanitizer.
tovel_add_test(ThreadTest SOURCES ThreadTest.cpp LIBS tovel_platform LABELS core threads)
