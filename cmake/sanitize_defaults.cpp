// sanitize_defaults.cpp - default options of the sanitizer runtimes, linked
// into every program of a DELTAMAINT_SANITIZE build.
//
// A sanitizer report must fail the test that ran the program, also when the
// program is the tool inside a sandbox (empty environment) and its expected
// exit status is 1: so every report, leaks included, ends the process with
// the distinct status 86.  Options given in ASAN_OPTIONS, UBSAN_OPTIONS or
// LSAN_OPTIONS still override these.
extern "C" {

const char* __asan_default_options() {
  return "exitcode=86:halt_on_error=1:detect_leaks=1:abort_on_error=0:"
         "print_summary=1:strict_string_checks=1:detect_stack_use_after_return=1:"
         "check_initialization_order=1";
}

const char* __lsan_default_options() { return "exitcode=86"; }

const char* __ubsan_default_options() {
  return "exitcode=86:halt_on_error=1:print_stacktrace=1";
}

}  // extern "C"
