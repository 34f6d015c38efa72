# Empty dependencies file for memory_pool_layout_tests.
# This may be replaced when dependencies are built.
