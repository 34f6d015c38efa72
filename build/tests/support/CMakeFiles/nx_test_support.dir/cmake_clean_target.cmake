file(REMOVE_RECURSE
  "libnx_test_support.a"
)
