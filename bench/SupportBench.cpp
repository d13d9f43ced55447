// Throughput of CMd5 against OpenSSL's MD5 (EVP) on the same inputs in the
// same run, with the ratio printed at the end, and the cost of GetValue on a
// definition with 999 file lines.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"

namespace {

std::vector<unsigned char> TestData(size_t size)
{
    std::vector<unsigned char> data(size);
    uint32_t x = 2463534242u;
    for (auto& byte : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<unsigned char>(x);
    }
    return data;
}

void BM_Md5Ours(benchmark::State& state)
{
    const auto data = TestData(static_cast<size_t>(state.range(0)));
    char hex[CMd5::kHexSize];
    for (auto _ : state) {
        CMd5 md5;
        md5.Update(data.data(), static_cast<uint32_t>(data.size()));
        md5.FinalHex(hex);
        md5.Release();
        benchmark::DoNotOptimize(hex);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Md5OpenSsl(benchmark::State& state)
{
    const auto data = TestData(static_cast<size_t>(state.range(0)));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const EVP_MD* md5 = EVP_md5();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(context, md5, nullptr);
        EVP_DigestUpdate(context, data.data(), data.size());
        EVP_DigestFinal_ex(context, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Md5Ours)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(BM_Md5OpenSsl)->Arg(16 << 10)->Arg(1 << 20);

// A definition as the server publishes it: the version section, then 999 file
// lines of four fields each.
void LoadDefinition()
{
    std::string text =
        "[UPDATE_VER]\r\nNAME=ORVA\r\nVER=1.05\r\nDAY=2024/05/01\r\n"
        "[UPDATE_FILE]\r\n";
    char line[256];
    for (uint32_t i = 1; i <= 999; ++i) {
        FormatText(line, sizeof line,
                   "FILE%z3=data/file%z3.bin,data\\file%z3.bin,%u,%x8%x8%x8%x8\r\n", i, i, i,
                   1000 + i * 37, i, i * 3, i * 5, i * 7);
        text += line;
    }
    char* area = static_cast<char*>(AllocArea(static_cast<uint32_t>(text.size())));
    std::memcpy(area, text.data(), text.size());
    ProfileText::LoadText(area, static_cast<uint32_t>(text.size()));
}

std::vector<std::string> FileKeys()
{
    std::vector<std::string> keys;
    char key[16];
    for (uint32_t i = 1; i <= 999; ++i) {
        FormatText(key, sizeof key, "FILE%z3", i);
        keys.push_back(key);
    }
    return keys;
}

void BM_GetValueEveryFile(benchmark::State& state)
{
    LoadDefinition();
    const auto keys = FileKeys();
    char value[1024];
    for (auto _ : state) {
        for (const auto& key : keys) {
            benchmark::DoNotOptimize(
                ProfileText::GetValue("UPDATE_FILE", key.c_str(), "", value, 1023));
        }
    }
    ProfileText::ReleaseText();
    // Seconds per lookup ("u" in the report is microseconds).
    state.counters["per_lookup"] = benchmark::Counter(
        static_cast<double>(keys.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_GetValueLastFile(benchmark::State& state)
{
    LoadDefinition();
    char value[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProfileText::GetValue("UPDATE_FILE", "FILE999", "", value, 1023));
    }
    ProfileText::ReleaseText();
}

BENCHMARK(BM_GetValueEveryFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetValueLastFile)->Unit(benchmark::kMicrosecond);

// The console report as usual, and the MD5 throughput of every repetition
// kept, so the two implementations can be set side by side at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& run : reports) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) {
                continue;
            }
            const Key key{run.run_name.function_name, run.run_name.args};
            if (run.run_type == Run::RT_Iteration) {
                m_rates[key].push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                m_medians[key] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    void PrintRatios() const
    {
        std::printf("\nMD5 throughput, median of the repetitions (MB/s = 10^6 bytes/s):\n");
        for (const char* size : {"16384", "1048576"}) {
            const double ours = Median({"BM_Md5Ours", size});
            const double theirs = Median({"BM_Md5OpenSsl", size});
            if (ours <= 0 || theirs <= 0) {
                continue;
            }
            std::printf("  %8s bytes: CMd5 %8.1f MB/s  OpenSSL %8.1f MB/s  ratio %.3f\n", size,
                        ours / 1e6, theirs / 1e6, ours / theirs);
        }
    }

private:
    using Key = std::pair<std::string, std::string>;

    double Median(const Key& key) const
    {
        const auto reported = m_medians.find(key);
        if (reported != m_medians.end()) {
            return reported->second;
        }
        const auto found = m_rates.find(key);
        if (found == m_rates.end() || found->second.empty()) {
            return 0;
        }
        std::vector<double> values = found->second;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

    std::map<Key, std::vector<double>> m_rates;
    std::map<Key, double> m_medians;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
