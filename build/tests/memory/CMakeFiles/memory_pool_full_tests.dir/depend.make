# Empty dependencies file for memory_pool_full_tests.
# This may be replaced when dependencies are built.
