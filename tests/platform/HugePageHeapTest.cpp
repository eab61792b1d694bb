// The tunable that puts glibc's heap in huge pages, and the kernel's offer of them.
#include <gtest/gtest.h>

#include <string>

#include "platform/HugePageHeap.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(HugePageHeap, TheTunableIsAddedOnceAndAUsersChoiceStands) {
  EXPECT_EQ(TunablesWithHugePageHeap(nullptr), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesWithHugePageHeap(""), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesWithHugePageHeap("glibc.malloc.arena_max=2"),
            "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
  // Set already, by the user (0 keeps small pages) or by the program's own first start.
  EXPECT_EQ(TunablesWithHugePageHeap("glibc.malloc.hugetlb=0"), "");
  EXPECT_EQ(TunablesWithHugePageHeap("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"), "");
  // Other names that begin alike are other tunables.
  EXPECT_EQ(TunablesWithHugePageHeap("glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb"),
            "glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb:glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesWithHugePageHeap(std::string(5000, 'x').c_str()), "");
}

TEST(HugePageHeap, OfferedWhenTheKernelsChoiceIsAlwaysOrMadvise) {
  TempFolder dir;
  const auto offered = [&](const std::string& text) {
    return HugePagesOffered(dir.Write("enabled", text).c_str());
  };
  EXPECT_TRUE(offered("[always] madvise never\n"));
  EXPECT_TRUE(offered("always [madvise] never\n"));
  EXPECT_FALSE(offered("always madvise [never]\n"));
  EXPECT_FALSE(offered(""));
  EXPECT_FALSE(HugePagesOffered(dir.File("missing").c_str()));
}

}  // namespace
