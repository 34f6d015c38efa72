# Empty compiler generated dependencies file for nxutil.
# This may be replaced when dependencies are built.
