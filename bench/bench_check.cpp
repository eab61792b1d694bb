// The script checker on a large file: 100 000 tags of 400 KB, each one an error that is reported
// with its line and column. Its time should grow with the file, not with the file squared.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/ScriptTools.h"

namespace {

void CheckManyTags(benchmark::State& state) {
  char dir[] = "/tmp/bench_check_XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string folder = dir, script = folder + "/script_many.txt";
  {
    std::ofstream f(script, std::ios::binary);
    f << "<DATA TITLE=\"Many\" VERSION=\"1.10\">\n";
    for (int i = 0; i < state.range(0); ++i) f << "<X>\n";
    f << "</DATA>\n";
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunCheckTool({script}, sink, sink, folder + "/none.reg"));
  }
  std::fclose(sink);
  std::remove(script.c_str());
  ::rmdir(dir);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CheckManyTags)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
