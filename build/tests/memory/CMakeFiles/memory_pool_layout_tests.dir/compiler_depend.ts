# CMAKE generated file: DO NOT EDIT!
# Timestamp file for compiler generated dependencies management for memory_pool_layout_tests.
