file(REMOVE_RECURSE
  "libnxutil_static.a"
)
