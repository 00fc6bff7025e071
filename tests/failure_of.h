// The error number a call ends the run with, for tests of what fails.
#pragma once

#include "run_failure.h"

// The error number the call ends the run with, or -1 when it returns normally.
template <typename Call>
int FailureOf(Call call) {
  try {
    call();
  } catch (const IoFailure& failure) {
    return failure.errorNumber;
  }
  return -1;
}
