# Fuzzes the inline markup of summaries and chat answers, read at once and as it streams in.
# The parser is compiled into the target itself so that libFuzzer's coverage instrumentation
# reaches it.
add_executable(fuzz_markdown_inline
  ${CMAKE_CURRENT_LIST_DIR}/markdown_inline.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/InlineRuns.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/InlineParser.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/InlineScans.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/InlineEmphasis.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/CharacterReferences.cpp
  ${PROJECT_SOURCE_DIR}/src/markdown/CharacterReferenceNames.cpp
)
target_include_directories(fuzz_markdown_inline PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(fuzz_markdown_inline PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_markdown_inline PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_markdown_inline PRIVATE Qt6::Core)

# Lines of model text are the seeds; libFuzzer writes what it finds into the corpus folder,
# in the build tree.
set(markdown_fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/markdown_inline)
add_test(NAME fuzz_markdown_inline_seeds
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/tests/data/markdown-inline ${markdown_fuzz_dir}/seeds)
add_test(NAME fuzz_markdown_inline_corpus
  COMMAND ${CMAKE_COMMAND} -E make_directory ${markdown_fuzz_dir}/corpus)
set_tests_properties(fuzz_markdown_inline_seeds fuzz_markdown_inline_corpus PROPERTIES FIXTURES_SETUP markdown_fuzz_corpus)
add_test(NAME fuzz_markdown_inline
  COMMAND fuzz_markdown_inline -max_total_time=60 -rss_limit_mb=4096 -artifact_prefix=${markdown_fuzz_dir}/
    ${markdown_fuzz_dir}/corpus ${markdown_fuzz_dir}/seeds
  WORKING_DIRECTORY ${markdown_fuzz_dir})
set_tests_properties(fuzz_markdown_inline PROPERTIES FIXTURES_REQUIRED markdown_fuzz_corpus TIMEOUT 600
  ENVIRONMENT "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;ASAN_OPTIONS=detect_leaks=1")
