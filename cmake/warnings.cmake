# Warnings, as errors, for every target of every preset: a warning that is left standing hides
# the next one. Third-party headers (GoogleTest, Google Benchmark, nlohmann/json, CLI11, lilv)
# come in as system includes, so their own warnings stay theirs.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Werror)
endif()
