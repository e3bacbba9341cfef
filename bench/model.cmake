# Benchmarks of the model layer against their peers, run side by side.
find_library(HX_PHONENUMBER_LIBRARY phonenumber)
find_path(HX_PHONENUMBER_INCLUDE phonenumbers/phonenumberutil.h PATHS /usr/include)
if(HX_PHONENUMBER_LIBRARY AND HX_PHONENUMBER_INCLUDE)
  # The phone-number library is a peer for the measurement only; the app never links it.
  hx_bench(phone_format SOURCES ${CMAKE_CURRENT_LIST_DIR}/model/phone_format_bench.cpp
    LIBS hx_model ${HX_PHONENUMBER_LIBRARY} protobuf::libprotobuf PkgConfig::ICU)
  if(TARGET bench_phone_format)
    add_dependencies(bench_phone_format hx_resources hx_model_test_data)
    target_compile_definitions(bench_phone_format PRIVATE
      HX_RESOURCES_DIR="${HX_RESOURCES_DIR}"
      HX_MODEL_TEST_DATA_DIR="${CMAKE_BINARY_DIR}/tests/model")
  endif()
endif()

hx_bench(model_cache SOURCES ${CMAKE_CURRENT_LIST_DIR}/model/cache_bench.cpp LIBS hx_model)
