# Labelled "threads": ./test.sh runs them once more under ThreadSanitizer.
tovel_add_test(FeedsRefreshTest SOURCES FeedsRefreshTest.cpp LIBS tovel_refresh LABELS core threads)
