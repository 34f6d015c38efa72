src/CMakeFiles/nxutil_objects.dir/platform/error.cpp.o: \
 /work/main/src/platform/error.cpp /usr/include/stdc-predef.h \
 /work/main/src/platform/error.h
