// Native benchmarks of the payload routines, each beside the plain baseline it is judged against:
// the affiliate query against memmem of both markers, the checksum against a plain byte sum.
//   payload_bench [--sample-installer=PATH] [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "bench/payload_fixture.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"

namespace isetup::bench {
namespace {

std::string samplePath;

const std::vector<std::uint8_t>& PayloadOf(const benchmark::State& state) {
  static std::map<long, std::vector<std::uint8_t>> cache;
  const long kind = static_cast<long>(state.range(0));
  auto found = cache.find(kind);
  if (found == cache.end()) found = cache.emplace(kind, MakePayload(static_cast<Payload>(kind), samplePath)).first;
  return found->second;
}

bool Ready(benchmark::State& state, const std::vector<std::uint8_t>& payload) {
  state.SetLabel(PayloadName(static_cast<Payload>(state.range(0))));
  if (payload.size() == kPayloadSize) return true;
  state.SkipWithError("payload missing");
  return false;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kPayloadSize));
}

void AffiliateQueryBaselineMemmem(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) {
    const void* affid = memmem(payload.data(), payload.size(), "affid=", 6);
    const void* affsid = memmem(payload.data(), payload.size(), "affsid=", 7);
    benchmark::DoNotOptimize(affid);
    benchmark::DoNotOptimize(affsid);
  }
  Finish(state);
}

void AffiliateQuery(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) benchmark::DoNotOptimize(ExtractAffiliateQuery(payload));
  Finish(state);
}

void AffiliateQueryPrevious(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) benchmark::DoNotOptimize(PreviousExtractAffiliateQuery(payload));
  Finish(state);
}

// A straightforward loop, as anyone would write it; the compiler vectorises it at -O3.
[[gnu::noinline]] std::uint32_t PlainSum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

void ChecksumBaselinePlainSum(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) benchmark::DoNotOptimize(PlainSum(payload.data(), payload.size()));
  Finish(state);
}

void Checksum(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) benchmark::DoNotOptimize(ByteSumChecksum(payload));
  Finish(state);
}

void ChecksumPrevious(benchmark::State& state) {
  const auto& payload = PayloadOf(state);
  if (!Ready(state, payload)) return;
  for (auto _ : state) benchmark::DoNotOptimize(PreviousByteSumChecksum(payload));
  Finish(state);
}

void AllPayloads(benchmark::internal::Benchmark* b) {
  b->ArgName("payload")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(AffiliateQueryBaselineMemmem)->Apply(AllPayloads);
BENCHMARK(AffiliateQuery)->Apply(AllPayloads);
BENCHMARK(AffiliateQueryPrevious)->Apply(AllPayloads);
BENCHMARK(ChecksumBaselinePlainSum)->Apply(AllPayloads);
BENCHMARK(Checksum)->Apply(AllPayloads);
BENCHMARK(ChecksumPrevious)->Apply(AllPayloads);

// The new routines must give what the old ones gave on every payload, or the figures mean nothing.
bool SameResults() {
  bool same = true;
  for (const Payload kind : {Payload::SampleInstaller, Payload::DeliveredLayout, Payload::TagsAtTheEnd}) {
    const auto payload = MakePayload(kind, samplePath);
    if (payload.empty()) continue;
    if (ExtractAffiliateQuery(payload) != PreviousExtractAffiliateQuery(payload) ||
        ByteSumChecksum(payload) != PreviousByteSumChecksum(payload)) {
      std::fprintf(stderr, "results differ on the payload \"%s\"\n", PayloadName(kind));
      same = false;
    }
  }
  return same;
}

}  // namespace
}  // namespace isetup::bench

int main(int argc, char** argv) {
  constexpr std::string_view kFlag = "--sample-installer=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with(kFlag)) {
      isetup::bench::samplePath = argv[i] + kFlag.size();
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (!isetup::bench::SameResults()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
