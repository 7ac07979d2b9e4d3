#include "net/HxCompress.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "net/ConnectionTestUtil.h"

using namespace std::string_literals;

namespace {

TEST(HxCompress, SameBytesAsOneShotCompressAndBack) {
  std::string const rows[] = {"", "a", "0123456789", std::string(1024, 'x'), random_bytes(1024, 5),
                              random_bytes(300000, 6)};
  for (std::string const& data : rows) {
    SCOPED_TRACE(data.size());
    for (int round = 0; round < 2; ++round) {  // the second time on a reset stream
      int n = -1;
      char* z = HxCompress::compact(n, data.data(), static_cast<int>(data.size()));
      ASSERT_NE(z, nullptr);
      std::string packed(z, static_cast<size_t>(n));
      delete[] z;
      EXPECT_TRUE(packed == zlib_compress(data));
      for (int delta : {0, -1, 1}) {
        int length = static_cast<int>(data.size()) + delta;
        if (length < 0) continue;
        char* plain = HxCompress::uncompact(length, packed.data(), n);
        EXPECT_EQ(plain != nullptr, delta == 0);
        if (plain) {
          EXPECT_TRUE(std::string(plain, data.size()) == data);
        }
        delete[] plain;
      }
    }
  }
  std::thread other([] {
    int n = 0;
    char* z = HxCompress::compact(n, "another thread", 14);
    EXPECT_TRUE(std::string(z, static_cast<size_t>(n)) == zlib_compress("another thread"));
    delete[] z;
  });
  other.join();
}

}  // namespace
