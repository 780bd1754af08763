/*
 * Times QZcfgn on a generated file of about 10,000 lines beside plain stream
 * I/O of the same file, and prints each pair's ratio at the end:
 *   read:  Open + Get of a key in the last section + Close, against reading
 *          every line with std::getline;
 *   write: Put + Close (the full write-back with backup), against writing the
 *          same lines with std::ofstream, fsync and rename.
 */
#include "qzcfgn.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int kSections = 500;
const int kKeysPerSection = 18; /* plus a comment and a blank line: 20 lines a section */

std::string dir;
std::string configPath;

void MakeConfig() {
    char pattern[] = "/tmp/qzcfgn-bench.XXXXXX";
    dir = mkdtemp(pattern);
    configPath = dir + "/bench.conf";
    std::ofstream out(configPath);
    for (int s = 0; s < kSections; ++s) {
        out << "[section-" << s << "]\n# settings of section " << s << "\n";
        for (int k = 0; k < kKeysPerSection; ++k)
            out << "  key-" << k << "  =  value " << s * 100 + k << " of some length \n";
        out << "\n";
    }
}

const std::string lastSection = "section-" + std::to_string(kSections - 1);

void ReadQZcfgn(benchmark::State &state) {
    for (auto _ : state) {
        QZcfgn cfg(configPath.c_str(), QZcfgn::ReadOnly);
        char *value = nullptr;
        cfg.Get(lastSection.c_str(), "key-17", value);
        benchmark::DoNotOptimize(value);
    }
}

void ReadGetline(benchmark::State &state) {
    for (auto _ : state) {
        std::ifstream in(configPath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        benchmark::DoNotOptimize(lines.data());
    }
}

void WriteQZcfgn(benchmark::State &state) {
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QZcfgn cfg(configPath.c_str(), QZcfgn::ReadWrite);
        state.ResumeTiming();
        cfg.Put(lastSection.c_str(), "key-3", std::to_string(n++).c_str());
        cfg.Close();
    }
}

void WriteOfstream(benchmark::State &state) {
    std::vector<std::string> lines;
    std::ifstream in(configPath);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::string temp = configPath + ".plain";
    const std::string target = configPath + ".plain-target";
    for (auto _ : state) {
        {
            std::ofstream out(temp);
            for (const std::string &line : lines)
                out << line << '\n';
        }
        int fd = open(temp.c_str(), O_RDONLY);
        fsync(fd);
        close(fd);
        rename(temp.c_str(), target.c_str());
    }
}

BENCHMARK(ReadQZcfgn)->Name("read/QZcfgn Open+Get+Close");
BENCHMARK(ReadGetline)->Name("read/getline baseline");
BENCHMARK(WriteQZcfgn)->Name("write/QZcfgn Put+Close");
BENCHMARK(WriteOfstream)->Name("write/ofstream+fsync+rename baseline");

/* Prints as usual, then each QZcfgn time over the baseline of its group. */
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    /* Colours only on a terminal, so the output reads cleanly when saved. */
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            std::string name = run.benchmark_name();
            bool baseline = name.find("baseline") != std::string::npos;
            (baseline ? base_ : ours_)[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[group, time] : ours_) {
            if (base_.count(group))
                printf("%s: QZcfgn / baseline = %.2f\n", group.c_str(), time / base_[group]);
        }
    }

  private:
    std::map<std::string, double> ours_, base_;
};

} // namespace

int main(int argc, char **argv) {
    MakeConfig();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::string clean = "rm -rf '" + dir + "'";
    return system(clean.c_str()) == 0 ? 0 : 1;
}
