# Sourced by the scripts that run sanitizer builds: undefined behaviour and memory errors
# abort the program that has them (so its test fails), leaks are reported at exit.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
