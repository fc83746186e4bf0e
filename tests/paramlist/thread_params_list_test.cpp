#include "paramlist/thread_params_list.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ThreadParamsListConcurrency, WritersUnderTheLockLoseNothing) {
  TqonThreadParamsList shared;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < 250; ++i) {
        TqonParamsList* list = shared.Lock();
        list->SetValue("T" + std::to_string(t) + "_" + std::to_string(i), OleVariant(i), true);
        shared.Unlock();
      }
    });
  for (auto& th : threads) th.join();
  auto r = shared.ReadLocked();
  EXPECT_EQ(r->Count(), 1000);
  EXPECT_EQ(r->GetValue("t3_249").ToInt(), 249);
}

}  // namespace
