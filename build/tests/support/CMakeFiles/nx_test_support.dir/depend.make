# Empty dependencies file for nx_test_support.
# This may be replaced when dependencies are built.
