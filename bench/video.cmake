# Frame conversion: RGBScale (scaler loaded at run time) against direct calls into the same
# libswscale, linked here through its development package.
find_package(PkgConfig)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(NX_BENCH_SWSCALE IMPORTED_TARGET libswscale libavutil)
endif()
if(NX_BENCH_SWSCALE_FOUND)
  nx_add_bench(video_bench SOURCES video_bench.cpp LIBS PkgConfig::NX_BENCH_SWSCALE)
endif()
