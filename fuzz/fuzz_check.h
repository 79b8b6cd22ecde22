// fuzz_check.h - the one assertion of the fuzz targets: a broken property
// of a reader's output is reported and ends the input as a crash, so that
// libFuzzer keeps the input that shows it.
#ifndef DELTAMAINT_FUZZ_CHECK_H
#define DELTAMAINT_FUZZ_CHECK_H

// Prints "property failed: WHAT" and aborts when `ok` is false.
void fuzzCheck(bool ok, const char* what);

#endif  // DELTAMAINT_FUZZ_CHECK_H
