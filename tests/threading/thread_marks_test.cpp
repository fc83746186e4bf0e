#include "threading/thread_marks.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct TagA;
struct TagB;

TEST(ThreadMarks, InnermostMarkGoesFirstAndKindsStayApart) {
  int a = 0, b = 0;
  TThreadMarks<TagA>::Add(&a);
  TThreadMarks<TagA>::Add(&b);
  TThreadMarks<TagA>::Add(&a);
  EXPECT_FALSE(TThreadMarks<TagB>::Contains(&a));
  TThreadMarks<TagA>::Remove(&a);
  EXPECT_TRUE(TThreadMarks<TagA>::Contains(&a));  // the outer call is still running
  TThreadMarks<TagA>::Remove(&b);                 // out of order, as a moved guard may end
  TThreadMarks<TagA>::Remove(&a);
  EXPECT_FALSE(TThreadMarks<TagA>::Contains(&a));
  EXPECT_FALSE(TThreadMarks<TagA>::Contains(&b));
}

TEST(ThreadMarks, DeepNestingBeyondTheArrayStaysBalanced) {
  int a = 0, deep = 0;
  TThreadMarks<TagA>::Add(&a);
  for (int i = 0; i < 100; ++i)
    TThreadMarks<TagA>::Add(&deep);
  for (int i = 0; i < 100; ++i)
    TThreadMarks<TagA>::Remove(&deep);
  EXPECT_TRUE(TThreadMarks<TagA>::Contains(&a));
  EXPECT_FALSE(TThreadMarks<TagA>::Contains(&deep));
  TThreadMarks<TagA>::Remove(&a);
  EXPECT_FALSE(TThreadMarks<TagA>::Contains(&a));
}

TEST(ThreadMarks, EachThreadHasItsOwn) {
  int a = 0;
  TThreadMarks<TagA>::Add(&a);
  bool seen = true;
  std::thread([&] { seen = TThreadMarks<TagA>::Contains(&a); }).join();
  EXPECT_FALSE(seen);
  TThreadMarks<TagA>::Remove(&a);
}

}  // namespace
