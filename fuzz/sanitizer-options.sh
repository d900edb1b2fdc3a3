# The sanitizers' options for the fuzz targets, sourced by run-fixed.sh and run-open-ended.sh:
# stop at the first report with its stack. libFuzzer keeps the input and ends with an error.
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:report_error_type=1}"
