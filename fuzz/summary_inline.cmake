# Fuzzes the inline markup of summaries and chat answers, read at once and as it streams in.
# The parser is compiled into the target itself so that libFuzzer's coverage instrumentation
# reaches it.
add_executable(fuzz_summary_inline
  ${CMAKE_CURRENT_LIST_DIR}/summary_inline.cpp
  ${PROJECT_SOURCE_DIR}/src/ui/workspace/SummaryInline.cpp
  ${PROJECT_SOURCE_DIR}/src/ui/workspace/CharacterReferences.cpp
)
target_include_directories(fuzz_summary_inline PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(fuzz_summary_inline PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_summary_inline PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_summary_inline PRIVATE Qt6::Widgets)

# Lines of model text are the seeds; libFuzzer writes what it finds into the corpus folder,
# in the build tree.
set(summary_fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/summary_inline)
add_test(NAME fuzz_summary_inline_seeds
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/tests/data/summary-inline ${summary_fuzz_dir}/seeds)
add_test(NAME fuzz_summary_inline_corpus
  COMMAND ${CMAKE_COMMAND} -E make_directory ${summary_fuzz_dir}/corpus)
set_tests_properties(fuzz_summary_inline_seeds fuzz_summary_inline_corpus PROPERTIES FIXTURES_SETUP summary_fuzz_corpus)
add_test(NAME fuzz_summary_inline
  COMMAND fuzz_summary_inline -max_total_time=60 -rss_limit_mb=4096 -artifact_prefix=${summary_fuzz_dir}/
    ${summary_fuzz_dir}/corpus ${summary_fuzz_dir}/seeds
  WORKING_DIRECTORY ${summary_fuzz_dir})
set_tests_properties(fuzz_summary_inline PROPERTIES FIXTURES_REQUIRED summary_fuzz_corpus TIMEOUT 600
  ENVIRONMENT "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;ASAN_OPTIONS=detect_leaks=1")
