# Empty dependencies file for memory_tests.
# This may be replaced when dependencies are built.
