// The library tests' program starts as the library's users do: the record
// tables are built before any test starts a thread (core/pack/HxRecord.h),
// in every process the program becomes (a death test's too).
#include <gtest/gtest.h>

#include "core/pack/HxRecord.h"

int main(int argc, char** argv) {
  hx_build_record_tables();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
