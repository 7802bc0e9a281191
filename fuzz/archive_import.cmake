# Fuzzes the parser that reads archived markdown files back into meetings. The parser is
# compiled into the target itself so that libFuzzer's coverage instrumentation reaches it.
add_executable(fuzz_archive_import
  ${CMAKE_CURRENT_LIST_DIR}/archive_import.cpp
  ${PROJECT_SOURCE_DIR}/src/archive/ArchiveFileParser.cpp
  ${PROJECT_SOURCE_DIR}/src/archive/ArchiveMarkdown.cpp
)
target_include_directories(fuzz_archive_import PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(fuzz_archive_import PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_archive_import PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_archive_import PRIVATE Qt6::Core)

# The golden archive files are the seeds. libFuzzer writes what it finds into the first
# folder, so both folders live in the build tree and the sources are never written.
set(archive_fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/archive_import)
add_test(NAME fuzz_archive_import_seeds
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/tests/data/archive/golden ${archive_fuzz_dir}/seeds)
add_test(NAME fuzz_archive_import_corpus
  COMMAND ${CMAKE_COMMAND} -E make_directory ${archive_fuzz_dir}/corpus)
set_tests_properties(fuzz_archive_import_seeds fuzz_archive_import_corpus PROPERTIES FIXTURES_SETUP archive_fuzz_corpus)
add_test(NAME fuzz_archive_import
  COMMAND fuzz_archive_import -max_total_time=60 -rss_limit_mb=4096 -artifact_prefix=${archive_fuzz_dir}/
    ${archive_fuzz_dir}/corpus ${archive_fuzz_dir}/seeds
  WORKING_DIRECTORY ${archive_fuzz_dir})
set_tests_properties(fuzz_archive_import PROPERTIES FIXTURES_REQUIRED archive_fuzz_corpus TIMEOUT 600
  ENVIRONMENT "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;ASAN_OPTIONS=detect_leaks=1")
