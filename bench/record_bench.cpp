// Building a pulse record and its line, and putting records in the log.
#include "pulse_log_model.h"
#include "pulse_record.h"
#include "report.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <map>
#include <memory>

using namespace dorq;

namespace {

const std::string Record = "5  10:20:30.12";

void BM_RecordAndLine(benchmark::State &state)
{
    ClockReading reading{localSecond(2026, 12, 7, 10, 20, 30), 0};
    for (auto _ : state) {
        std::string line = lineForm(buildRecord("5", reading));
        benchmark::DoNotOptimize(line);
        reading.tickCount = (reading.tickCount + 1) % 100; // so nothing is folded away
    }
}
BENCHMARK(BM_RecordAndLine)->Repetitions(5)->ReportAggregatesOnly(true);

std::unique_ptr<PulseLogModel> logOf(std::size_t size)
{
    auto log = std::make_unique<PulseLogModel>();
    for (std::size_t i = 0; i < size; ++i)
        log->insertRecord(Record);
    return log;
}

// Every timed insert lands on a log of `size` records or a few more: the log is rebuilt,
// untimed, before it has grown by more than max(size, 100).
void BM_LogInsert(benchmark::State &state)
{
    const auto size = std::size_t(state.range(0));
    const std::size_t batch = std::max<std::size_t>(size, 100);
    auto log = logOf(size);
    std::size_t inserted = 0;
    for (auto _ : state) {
        if (inserted == batch) {
            state.PauseTiming();
            log = logOf(size);
            inserted = 0;
            state.ResumeTiming();
        }
        log->insertRecord(Record);
        ++inserted;
    }
}
BENCHMARK(BM_LogInsert)
    ->Arg(1)
    ->Arg(1000)
    ->Arg(1000000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Heap bytes the log holds per record, allocator overhead included.
double bytesPerRecord(std::size_t count)
{
    const auto heap = [] {
        const struct mallinfo2 info = mallinfo2();
        return double(info.uordblks + info.hblkhd);
    };
    auto log = std::make_unique<PulseLogModel>();
    const double before = heap();
    for (std::size_t i = 0; i < count; ++i)
        log->insertRecord(Record);
    return (heap() - before) / double(count);
}

// Keeps the median of every benchmark for the summary, and shows the usual console output.
class MedianReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> medians; // name -> ns

    MedianReporter() : ConsoleReporter(OO_Tabular) {} // no colour codes in the saved output

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name +
                        (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
                    run.GetAdjustedRealTime(); // in ns, the default unit
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    using bench::format;
    const double record = reporter.medians["BM_RecordAndLine"];
    bench::result("Record + line form (buildRecord + lineForm)", format("%.0f ns", record),
                  "none set", "-");

    const double at1 = reporter.medians["BM_LogInsert/1"];
    const double at1k = reporter.medians["BM_LogInsert/1000"];
    const double at1m = reporter.medians["BM_LogInsert/1000000"];
    bench::result("Log insert at 1 / 1,000 / 1,000,000 records",
                  format("%.1f / %.1f / %.1f ns", at1, at1k, at1m),
                  "flat (at 1,000,000 <= 2x at 1)", bench::met(at1m <= 2 * at1));

    const double bytes = bytesPerRecord(1000000);
    bench::result("Log memory per record (1,000,000 inserts)", format("%.1f bytes", bytes),
                  "< 64 bytes", bench::met(bytes < 64));
    return 0;
}
