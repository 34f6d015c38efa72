# Empty compiler generated dependencies file for nxutil_static.
# This may be replaced when dependencies are built.
