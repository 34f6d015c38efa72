# Empty dependencies file for nxutil_objects.
# This may be replaced when dependencies are built.
