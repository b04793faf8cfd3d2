// Queries and adds on registries of 100, 1000 and 10000 records, each set
// beside the floor measured on the same file in the same run: one
// xmlReadFile plus xmlValidateDocument.  After the runs a summary gives
// every query as a multiple of the floor, and zo_add as a share of its
// budget of 2.5 floors plus one fsync of a file of the registry's size.
// Queries and the floor are compared by CPU time (they read from the page
// cache; CPU time does not count the waits of a shared machine), zo_add
// and fsync by elapsed time, which is what a caller waits for.
#include "bench_environment.h"
#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int record_uid = 12345;  // not the benchmark's user: no quota applies
constexpr int products = 100;      // records per product URN stay below 256

std::string record(int i)
{
    const std::string n = std::to_string(i);
    return "<zorbel><instance_urn>urn:bench:" + n + "</instance_urn><product_name>Product " + n +
           "</product_name><product_version>1.0." + n + "</product_version><product_urn>urn:product:" +
           std::to_string(i % products) +
           "</product_urn><product_parent_urn>urn:parent:1</product_parent_urn><product_parent>Suite"
           "</product_parent><product_defined_inst_id/><product_vendor>Vendor</product_vendor>"
           "<platform_arch>x86_64</platform_arch><timestamp>2026-12-07 05:31:11 GMT</timestamp>"
           "<container>pkg</container><source>/media/pkg</source><installer_uid>" +
           std::to_string(record_uid) + "</installer_uid></zorbel>";
}

// Writes the file and flushes it to disk, so that no later fsync pays for it.
void write_file(const std::string &path, const std::string &content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        fsync(fd) != 0)
        abort();
    close(fd);
}

// A root below the temporary directory holding a registry of `records`
// records, and an environment initialised on it.
class BenchRegistry {
public:
    explicit BenchRegistry(int records)
    {
        std::string dir = (fs::temp_directory_path() / "zorbel-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr)
            abort();
        root_ = dir;
        const fs::path reg_dir = root_ / "var/sadm/zorbel/registry";
        fs::create_directories(reg_dir);
        fs::copy_file(ZORBEL_BENCH_DTD, reg_dir / "zorbel.dtd");
        path_ = (reg_dir / "zorbel.xml").string();
        content_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE registry SYSTEM \"" +
                   (reg_dir / "zorbel.dtd").string() +
                   "\">\n<registry urn=\"urn:zo:00000000-0000-1000-8000-000000000000\" version=\"1.1.4\">";
        for (int i = 0; i < records; ++i)
            content_ += record(i);
        content_ += "</registry>\n";
        restore();
        if (zo_initialize(root_.c_str(), &env_) != ZO_ERR_NO_ERROR)
            abort();
    }
    ~BenchRegistry()
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void restore() const { write_file(path_, content_); }
    const std::string &path() const { return path_; }
    const std::string &content() const { return content_; }
    zo_env_t *env() { return &env_; }

private:
    fs::path root_;
    std::string path_, content_;
    zo_env_t env_{};
};

BenchRegistry &registry(int records)
{
    static std::map<int, std::unique_ptr<BenchRegistry>> made;
    auto &slot = made[records];
    if (!slot)
        slot = std::make_unique<BenchRegistry>(records);
    return *slot;
}

void quiet(void *, const char *, ...) {}

void BM_floor(benchmark::State &state)
{
    BenchRegistry &reg = registry(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        zorbel::xml::DocPtr doc(xmlReadFile(reg.path().c_str(), nullptr, 0));
        zorbel::xml::ValidCtxtPtr ctxt(xmlNewValidCtxt());
        ctxt->error = quiet;
        ctxt->warning = quiet;
        if (!doc || xmlValidateDocument(ctxt.get(), doc.get()) != 1)
            state.SkipWithError("registry not valid");
    }
}

void get(benchmark::State &state, int which)
{
    const int records = static_cast<int>(state.range(0));
    BenchRegistry &reg = registry(records);
    const std::string urn = "urn:bench:" + std::to_string(which < 0 ? records : which);
    const int expected = which < 0 ? ZO_ERR_REC_NOT_FOUND : ZO_ERR_NO_ERROR;
    for (auto _ : state) {
        zo_t s{};
        urn.copy(s.instance_urn, urn.size());
        if (zo_get(&s, reg.env()) != expected)
            state.SkipWithError("unexpected result");
    }
}

void BM_get_first(benchmark::State &state) { get(state, 0); }
void BM_get_middle(benchmark::State &state) { get(state, static_cast<int>(state.range(0)) / 2); }
void BM_get_missing(benchmark::State &state) { get(state, -1); }

void BM_instance_urns(benchmark::State &state)
{
    BenchRegistry &reg = registry(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char **list = nullptr;
        if (zo_get_instance_urns("urn:product:7", &list, reg.env()) < 1)
            state.SkipWithError("no match");
        zo_free_instance_urns(list);
    }
}

void BM_registry_xml(benchmark::State &state)
{
    BenchRegistry &reg = registry(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char *xml = nullptr;
        if (zo_get_registry_xml(&xml, reg.env()) != ZO_ERR_NO_ERROR)
            state.SkipWithError("no copy");
        zo_free_xml(xml);
    }
}

// zo_add with a given URN (looked up first) or a generated one; the
// registry is put back to its original size between adds, untimed.
void add(benchmark::State &state, bool given_urn)
{
    BenchRegistry &reg = registry(static_cast<int>(state.range(0)));
    int n = 0;
    for (auto _ : state) {
        zo_t s{};
        const std::string urn = given_urn ? "urn:added:" + std::to_string(n++) : "";
        urn.copy(s.instance_urn, urn.size());
        for (char *field : {s.product_name, s.product_urn, s.product_parent})
            snprintf(field, 256, "%s", "value");
        for (char *field : {s.product_version, s.product_vendor, s.platform_arch, s.container, s.source})
            snprintf(field, 64, "%s", "value");
        if (zo_add(&s, reg.env()) != ZO_ERR_NO_ERROR)
            state.SkipWithError("add failed");
        state.PauseTiming();
        reg.restore();
        state.ResumeTiming();
    }
}

void BM_add_given_urn(benchmark::State &state) { add(state, true); }
void BM_add_generated_urn(benchmark::State &state) { add(state, false); }

// One fsync of a freshly written file as big as the registry, in the
// registry's directory (the write itself is not timed).
void BM_fsync(benchmark::State &state)
{
    BenchRegistry &reg = registry(static_cast<int>(state.range(0)));
    const std::string path = fs::path(reg.path()).parent_path() / "fsync-probe";
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || write(fd, reg.content().data(), reg.content().size()) < 0)
            state.SkipWithError("cannot write");
        state.ResumeTiming();
        fsync(fd);
        state.PauseTiming();
        close(fd);
        unlink(path.c_str());
        state.ResumeTiming();
    }
}

double fastest(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

// With repetitions, the fastest one stands for each case: on a shared
// machine the slower ones measure the neighbours.
void sizes(benchmark::internal::Benchmark *b)
{
    b->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_floor)->Apply(sizes);
BENCHMARK(BM_get_first)->Apply(sizes);
BENCHMARK(BM_get_middle)->Apply(sizes);
BENCHMARK(BM_get_missing)->Apply(sizes);
BENCHMARK(BM_instance_urns)->Apply(sizes);
BENCHMARK(BM_registry_xml)->Apply(sizes);
BENCHMARK(BM_fsync)->Apply(sizes);
BENCHMARK(BM_add_given_urn)->Apply(sizes);
BENCHMARK(BM_add_generated_urn)->Apply(sizes);

// Console output as usual, and each run's times kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        // With repetitions the minimum, which follows the single runs, wins.
        for (const Run &run : runs) {
            const bool single = run.run_type == Run::RT_Iteration;
            const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if ((single || fastest) && !run.error_occurred)
                times_[run.run_name.function_name][run.run_name.args] = {run.GetAdjustedCPUTime(),
                                                                         run.GetAdjustedRealTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void print_summary() const
    {
        printf("\nQueries as multiples of the floor (one xmlReadFile + xmlValidateDocument of the\n"
               "same file), by CPU time; zo_add as a share of its budget, 2.5 floors + one fsync,\n"
               "by elapsed time:\n\n");
        printf("%8s %9s %8s %8s %8s %8s %8s | %9s %9s %8s %8s\n", "records", "floor ms", "get 1st", "get mid",
               "get none", "urns", "xml", "fsync ms", "budget ms", "add urn", "add new");
        for (const std::string n : {"100", "1000", "10000"}) {
            const Times floor = find("BM_floor", n);
            if (floor.cpu <= 0)
                continue;
            const auto cpu_ratio = [&](const char *name) { return find(name, n).cpu / floor.cpu; };
            const double fsync_ms = find("BM_fsync", n).real;
            const double budget = 2.5 * floor.real + fsync_ms;
            printf("%8s %9.3f %8.2f %8.2f %8.2f %8.2f %8.2f | %9.3f %9.3f %8.2f %8.2f\n", n.c_str(), floor.cpu,
                   cpu_ratio("BM_get_first"), cpu_ratio("BM_get_middle"), cpu_ratio("BM_get_missing"),
                   cpu_ratio("BM_instance_urns"), cpu_ratio("BM_registry_xml"), fsync_ms, budget,
                   find("BM_add_given_urn", n).real / budget, find("BM_add_generated_urn", n).real / budget);
        }
    }

private:
    struct Times {
        double cpu = 0, real = 0;
    };
    Times find(const std::string &name, const std::string &n) const
    {
        const auto f = times_.find(name);
        if (f == times_.end())
            return {};
        const auto r = f->second.find(n);
        return r == f->second.end() ? Times{} : r->second;
    }
    std::map<std::string, std::map<std::string, Times>> times_;
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("%s\n", zorbel::bench::bench_environment().c_str());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_summary();
    benchmark::Shutdown();
    return 0;
}
