// Throughput of the dispatcher's data path through the stand-in device layer,
// and the allocations it makes per byte (none expected).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "TestDevice.h"
#include "serial/Dispatcher.h"

namespace {
std::atomic<uint64_t> Allocations{0};
}

void* operator new(std::size_t size) {
  Allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Delivers on the calling thread and lets the handler take bytes.
class TBenchLink : public TSerMainThreadLink {
 public:
  bool SendNotification(TSerWindowHandle, uint16_t msg, uint16_t wParam, int32_t, std::chrono::milliseconds) override {
    if (msg == TriggerAvailMsg) {
      uint8_t c;
      for (uint16_t i = 0; i < wParam; ++i) {
        Dev->GetChar(c);
        Sum += c;
      }
    }
    return true;
  }
  void PostNotification(TSerWindowHandle, uint16_t, uint16_t, int32_t) override {}
  void ProcessOneMessage() override {}
  void Synchronize(const std::function<void()>& fn) override { fn(); }
  TSerBaseDispatcher* Dev = nullptr;
  uint64_t Sum = 0;
};

void BM_PutBlock(benchmark::State& state) {
  const auto blockSize = static_cast<uint32_t>(state.range(0));
  TTestDevice dev;
  dev.OpenDefault(8192);
  const std::string block(blockSize, 'x');
  uint64_t bytes = 0;
  const uint64_t before = Allocations.load();
  for (auto _ : state) {
    if (dev.PutBlock(block.data(), blockSize) != 0) {
      dev.DiscardOutput();
      dev.PutBlock(block.data(), blockSize);
    }
    bytes += blockSize;
  }
  const uint64_t allocs = Allocations.load() - before;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["allocs_per_byte"] = static_cast<double>(allocs) / static_cast<double>(bytes);
}
BENCHMARK(BM_PutBlock)->Arg(1)->Arg(16)->Arg(256)->Arg(4096);

void BM_DeliverAndGetChar(benchmark::State& state) {
  const auto chunk = static_cast<size_t>(state.range(0));
  TTestDevice dev;
  TBenchLink link;
  link.Dev = &dev;
  dev.SetMainThreadLink(&link);
  dev.OpenDefault();
  dev.RegisterWindowHandler(1);
  dev.SetHandlerMode(1);
  dev.SetTriggerLength(1);
  std::string data(chunk, 'r');
  dev.Pending.reserve(chunk * 2);
  dev.Feed(data);  // warm up: the first pass may size things
  dev.Pass();
  uint64_t bytes = 0;
  const uint64_t before = Allocations.load();
  for (auto _ : state) {
    dev.Feed(data);
    dev.Pass();
    bytes += chunk;
  }
  const uint64_t allocs = Allocations.load() - before;
  benchmark::DoNotOptimize(link.Sum);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["allocs_per_byte"] = static_cast<double>(allocs) / static_cast<double>(bytes);
}
BENCHMARK(BM_DeliverAndGetChar)->Arg(1)->Arg(16)->Arg(256)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
