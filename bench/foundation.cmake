# Foundation data formats: JSON parse against a JSON library's own DOM parse, keyed archives
# against plain binary property lists of the same data.
hx_bench(foundation SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_bench.cpp
  LIBS hx_foundation nlohmann_json::nlohmann_json PkgConfig::PLIST)
