// A benchmark that compares our path with a peer prints the comparison itself: the ratio ours/peer
// of each round (repetition i of ours against repetition i of the peer, wall and CPU), their
// median and range, the goal, and a check that both sides did the same work (named counters that
// must agree). Above the table it prints what makes two runs comparable or not: the build type,
// the processors the process may use, the machine's load, the filter, the repetitions and
// whether they were interleaved. Counts that disagree make the process fail.
//
//   HX_BENCH_MAIN_WITH_RATIOS({{"BM_Ours", "BM_Peer", 1.5, {"rows"}}, ...})
//
// A pair names two benchmark families; rows with arguments pair by their suffix ("/1000").
#pragma once

#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef HX_BENCH_BUILD_TYPE
#define HX_BENCH_BUILD_TYPE "unknown"
#endif

namespace hxbench {

struct RatioPair {
    std::string ours;
    std::string peer;
    double goal = 0;                                           // at most this ratio; 0: no goal, only printed
    bool goalOnCpu = true;                                     // the goal holds for CPU too (else for wall only)
    std::vector<std::string> sameCounts;                       // counters both sides must report equal
    std::vector<std::string> showCounters;                     // further counters printed as ours/peer
    std::vector<std::pair<std::string, double>> counterGoals;  // counters ours/peer at most this
};

// A counter of one row over the same counter of another (rows of two families, or two rows of one
// family), round by round: the memory of ours beside the peer's at one size, or a cost per item at
// a large size over the same at a small one (whether it stays flat as the rows grow).
struct RowRatio {
    std::string over;     // "BM_Ours/50000"
    std::string under;    // "BM_Peer/50000" or "BM_Ours/1000"
    std::string counter;  // "heap_peak_growth_KiB"
    double goal = 0;      // at most this; 0: only printed
};

struct RoundTimes {
    double wall = 0, cpu = 0;
    std::map<std::string, double> counters;
};

inline double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// True where two counts agree (exact for whole counts, a part in a million for averages).
inline bool sameCount(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-6 * std::max(std::fabs(a), std::fabs(b));
}

inline std::string machineLoad() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

inline int allowedProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return -1;
    return CPU_COUNT(&set);
}

inline std::string allowedProcessorList() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return "?";
    std::string list;
    for (int i = 0; i < CPU_SETSIZE; ++i)
        if (CPU_ISSET(i, &set)) list += (list.empty() ? "" : ",") + std::to_string(i);
    return list;
}

// The console's table as usual; every repetition's times and counters kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(std::vector<RatioPair> pairs, std::string flags, std::vector<RowRatio> rows = {})
        : pairs_(std::move(pairs)), rows_(std::move(rows)), flags_(std::move(flags)) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            RoundTimes t;
            t.wall = run.GetAdjustedRealTime();
            t.cpu = run.GetAdjustedCPUTime();
            for (const auto& [name, counter] : run.counters) t.counters[name] = counter.value;
            rounds_[run.benchmark_name()].push_back(std::move(t));
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        out << "\n== ratios ours/peer (each round: repetition i against repetition i; median [min-max])\n";
        out << "build " << HX_BENCH_BUILD_TYPE
#ifdef NDEBUG
            << " (NDEBUG)"
#else
            << " (assertions on)"
#endif
            << ", processors allowed " << allowedProcessors() << " (" << allowedProcessorList() << ")"
            << ", load " << machineLoad() << ", filter '" << benchmark::GetBenchmarkFilter() << "'"
            << ", flags" << (flags_.empty() ? std::string(" none") : flags_) << "\n";
        for (const RatioPair& pair : pairs_) report(out, pair);
        if (!rows_.empty())
            out << "\n== row ratios (a counter of one row over another's, each round; median [min-max])\n";
        for (const RowRatio& row : rows_) report(out, row);
        out.flush();
    }

    bool countsAgree() const { return countsAgree_; }

private:
    void report(std::ostream& out, const RatioPair& pair) {
        bool any = false;
        for (const auto& [name, ours] : rounds_) {
            if (name.compare(0, pair.ours.size(), pair.ours) != 0) continue;
            std::string suffix = name.substr(pair.ours.size());
            if (!suffix.empty() && suffix[0] != '/') continue;  // another family sharing the prefix
            auto peerIt = rounds_.find(pair.peer + suffix);
            if (peerIt == rounds_.end()) continue;
            any = true;
            const auto& peer = peerIt->second;
            size_t n = std::min(ours.size(), peer.size());
            std::vector<double> wall, cpu;
            for (size_t i = 0; i < n; ++i) {
                if (peer[i].wall > 0) wall.push_back(ours[i].wall / peer[i].wall);
                if (peer[i].cpu > 0) cpu.push_back(ours[i].cpu / peer[i].cpu);
            }
            char line[512];
            auto range = [](const std::vector<double>& v) {
                char text[96];
                if (v.empty()) return std::string("-");
                std::snprintf(text, sizeof text, "%.2fx [%.2f-%.2f]", median(v), *std::min_element(v.begin(), v.end()),
                              *std::max_element(v.begin(), v.end()));
                return std::string(text);
            };
            std::string verdict;
            if (pair.goal > 0) {
                double worst = wall.empty() ? INFINITY : *std::max_element(wall.begin(), wall.end());
                double worstCpu = cpu.empty() ? INFINITY : *std::max_element(cpu.begin(), cpu.end());
                char text[96];
                std::snprintf(text, sizeof text, " goal <=%.2fx: %s", pair.goal,
                              (pair.goalOnCpu ? std::max(worst, worstCpu) : worst) <= pair.goal
                                  ? "met in every round"
                                  : "NOT met in every round");
                verdict = text;
            }
            std::snprintf(line, sizeof line, "%s%s vs %s%s: %zu rounds, wall %s, cpu %s%s\n", pair.ours.c_str(),
                          suffix.c_str(), pair.peer.c_str(), suffix.c_str(), n, range(wall).c_str(), range(cpu).c_str(),
                          verdict.c_str());
            out << line;
            for (const auto& [counter, goal] : pair.counterGoals) {
                std::vector<double> ratio;
                for (size_t i = 0; i < n; ++i) {
                    auto a = ours[i].counters.find(counter), b = peer[i].counters.find(counter);
                    if (a != ours[i].counters.end() && b != peer[i].counters.end() && b->second != 0)
                        ratio.push_back(a->second / b->second);
                }
                const bool met = ratio.size() == n && n > 0 && *std::max_element(ratio.begin(), ratio.end()) <= goal;
                std::snprintf(line, sizeof line, "    %s ours/peer %s goal <=%.2fx: %s\n", counter.c_str(),
                              range(ratio).c_str(), goal, met ? "met in every round" : "NOT met in every round");
                out << line;
            }
            for (const std::string& counter : pair.showCounters) {
                std::vector<double> ratio;
                for (size_t i = 0; i < n; ++i) {
                    auto a = ours[i].counters.find(counter), b = peer[i].counters.find(counter);
                    if (a != ours[i].counters.end() && b != peer[i].counters.end() && b->second != 0)
                        ratio.push_back(a->second / b->second);
                }
                out << "    " << counter << " ours/peer " << range(ratio);
                // A peer that counts 0 has no ratio: the two counts say it.
                if (ratio.size() < n && n > 0 && ours[0].counters.count(counter) && peer[0].counters.count(counter))
                    out << " (round 1: ours " << ours[0].counters.at(counter) << ", peer "
                        << peer[0].counters.at(counter) << ")";
                out << "\n";
            }
            for (const std::string& counter : pair.sameCounts) {
                bool agree = true;
                for (size_t i = 0; i < n; ++i) {
                    auto a = ours[i].counters.find(counter), b = peer[i].counters.find(counter);
                    bool missing = a == ours[i].counters.end() || b == peer[i].counters.end();
                    if (missing || !sameCount(a->second, b->second)) {
                        countsAgree_ = agree = false;
                        std::snprintf(line, sizeof line, "    COUNT MISMATCH in round %zu: %s ours %s, peer %s\n",
                                      i + 1, counter.c_str(),
                                      a == ours[i].counters.end() ? "missing" : std::to_string(a->second).c_str(),
                                      b == peer[i].counters.end() ? "missing" : std::to_string(b->second).c_str());
                        out << line;
                    }
                }
                if (n > 0 && ours[0].counters.count(counter))
                    out << "    " << counter << " " << ours[0].counters.at(counter)
                        << " on both sides: " << (agree ? "checked" : "see above") << "\n";
            }
        }
        if (!any) out << pair.ours << " vs " << pair.peer << ": not both run (filter)\n";
    }

    void report(std::ostream& out, const RowRatio& row) {
        auto over = rounds_.find(row.over), under = rounds_.find(row.under);
        if (over == rounds_.end() || under == rounds_.end()) {
            out << row.counter << " " << row.over << " / " << row.under << ": not both run (filter)\n";
            return;
        }
        std::vector<double> ratio;
        for (size_t i = 0; i < std::min(over->second.size(), under->second.size()); ++i) {
            auto a = over->second[i].counters.find(row.counter), b = under->second[i].counters.find(row.counter);
            if (a != over->second[i].counters.end() && b != under->second[i].counters.end() && b->second != 0)
                ratio.push_back(a->second / b->second);
        }
        char line[512];
        if (ratio.empty()) {
            std::snprintf(line, sizeof line, "%s %s / %s: no rounds\n", row.counter.c_str(), row.over.c_str(),
                          row.under.c_str());
        } else {
            std::string verdict;
            if (row.goal > 0)
                verdict = std::string(" goal <=") + std::to_string(row.goal).substr(0, 4) + "x: " +
                          (*std::max_element(ratio.begin(), ratio.end()) <= row.goal ? "met in every round"
                                                                                     : "NOT met in every round");
            std::snprintf(line, sizeof line, "%s %s / %s: %.2fx [%.2f-%.2f] (%.4g / %.4g)%s\n", row.counter.c_str(),
                          row.over.c_str(), row.under.c_str(), median(ratio),
                          *std::min_element(ratio.begin(), ratio.end()), *std::max_element(ratio.begin(), ratio.end()),
                          over->second[0].counters[row.counter], under->second[0].counters[row.counter],
                          verdict.c_str());
        }
        out << line;
    }

    std::vector<RatioPair> pairs_;
    std::vector<RowRatio> rows_;
    std::string flags_;
    std::map<std::string, std::vector<RoundTimes>> rounds_;
    bool countsAgree_ = true;
};

inline int runWithRatios(int argc, char** argv, std::vector<RatioPair> pairs, std::vector<RowRatio> rows = {}) {
    // The run's own flags (repetitions, interleaving, minimum time), printed with the ratios.
    std::string flags;
    for (int i = 1; i < argc; ++i) flags += std::string(" ") + argv[i];
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(std::move(pairs), std::move(flags), std::move(rows));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.countsAgree()) {
        std::fprintf(stderr, "bench: the two sides of a pair did not do the same work\n");
        return 3;
    }
    return 0;
}

}  // namespace hxbench

#define HX_BENCH_MAIN_WITH_RATIOS(...)                                                                                 \
    int main(int argc, char** argv) { return hxbench::runWithRatios(argc, argv, __VA_ARGS__); }
