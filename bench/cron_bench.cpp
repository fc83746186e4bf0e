// Next-moment search of cron schedules, sparse ones above all: the search
// walks years, months and days, never seconds.
#include <benchmark/benchmark.h>

#include "parser/cron/schedule.h"
#include "platform/datetime.h"

namespace {

double At(int y, int mo, int d) {
  int64_t seconds = 0;
  platform::TryEncodeDateTime(y, mo, d, 0, 0, 0, &seconds);
  return platform::MsToDateTime(seconds * 1000);
}

void NextOf(benchmark::State& state, const char* text, double from) {
  const TChronSchedule entries = ParseCronText(text);
  for (auto _ : state)
    benchmark::DoNotOptimize(NextMoment(entries, 0, 0, from));
}

void BM_LeapDayOnMonday2023(benchmark::State& s) {
  NextOf(s, "0 0 0 29 2 1", At(2023, 6, 1));
}
void BM_LeapDayOnMonday2044(benchmark::State& s) {
  NextOf(s, "0 0 0 29 2 1", At(2044, 3, 1));
}
void BM_Yearly(benchmark::State& s) {
  NextOf(s, "30 15 10 1 1 *", At(2023, 6, 1));
}
void BM_FridayThe13th(benchmark::State& s) {
  NextOf(s, "0 0 0 13 * 5", At(2023, 6, 1));
}
void BM_Daily(benchmark::State& s) {
  NextOf(s, "0 0 12 * * *", At(2023, 6, 1));
}
void BM_EveryFifteenSeconds(benchmark::State& s) {
  NextOf(s, "*/15 * * * * *", At(2023, 6, 1));
}

// A text that can never fire: the whole year range is searched twice.
void BM_NeverFires(benchmark::State& state) {
  const TChronSchedule entries = ParseCronText("0 0 0 30 2 *");
  const double from = At(2023, 6, 1);
  for (auto _ : state) {
    try {
      benchmark::DoNotOptimize(NextMoment(entries, 0, 0, from));
    } catch (const ECronError&) {
    }
  }
}

// Ten successive moments, as the longest request period takes them.
void BM_TenMomentsDaily(benchmark::State& state) {
  const TChronSchedule entries = ParseCronText("0 0/15 8-17 * * 1-5");
  for (auto _ : state) {
    double t = At(2023, 6, 1);
    for (int i = 0; i < 10; ++i)
      t = NextMoment(entries, 0, 0, t);
    benchmark::DoNotOptimize(t);
  }
}

void BM_Parse(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(ParseCronText("0 5,10,15-20/2 8-17 * 1-6 1-5 *"));
}

BENCHMARK(BM_LeapDayOnMonday2023);
BENCHMARK(BM_LeapDayOnMonday2044);
BENCHMARK(BM_Yearly);
BENCHMARK(BM_FridayThe13th);
BENCHMARK(BM_Daily);
BENCHMARK(BM_EveryFifteenSeconds);
BENCHMARK(BM_NeverFires);
BENCHMARK(BM_TenMomentsDaily);
BENCHMARK(BM_Parse);

}  // namespace

BENCHMARK_MAIN();
