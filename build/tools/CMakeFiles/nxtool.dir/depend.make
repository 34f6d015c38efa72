# Empty dependencies file for nxtool.
# This may be replaced when dependencies are built.
