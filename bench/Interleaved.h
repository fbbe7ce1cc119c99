#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

// Initialises Google Benchmark so that the benchmarks of a comparison run in turns, five times
// each unless the command line sets the repetitions, and a passing load on the machine does not
// decide it. False (with the message printed) when the command line holds an unknown argument.
inline bool InitializeInterleaved(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    if (std::none_of(args.begin(), args.end(), [](const char* arg) {
            return std::string(arg).rfind("--benchmark_repetitions", 0) == 0;
        })) {
        args.push_back(repetitions);
        args.push_back(interleave);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    return !benchmark::ReportUnrecognizedArguments(count, args.data());
}
