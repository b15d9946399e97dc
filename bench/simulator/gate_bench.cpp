// What the request gate costs a typical call, beside the same body's copy.
#include "request_gate.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const std::string kGetRecord =
    "<?xml version=\"1.0\"?><methodCall><methodName>GetRecord</methodName>"
    "<params><param><value><struct><member><name>Id</name><value>"
    "<string>17</string></value></member></struct></value></param>"
    "</params></methodCall>";

void copyOnly(benchmark::State& state) {
    for (auto _ : state) {
        std::string body = kGetRecord;
        benchmark::DoNotOptimize(body.data());
    }
}
BENCHMARK(copyOnly);

void gateGetRecord(benchmark::State& state) {
    for (auto _ : state) {
        std::string body = kGetRecord;
        auto verdict = cwsim::checkCall(body);
        if (!verdict.passed)
            state.SkipWithError("refused");
        benchmark::DoNotOptimize(verdict);
    }
}
BENCHMARK(gateGetRecord);

} // namespace

BENCHMARK_MAIN();
