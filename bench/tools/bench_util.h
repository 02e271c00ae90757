// Small helpers shared by the benchmark programs: option parsing, clocks, medians.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace bench {

// "--name value" options and the named "--flag"s without a value; anything unknown or
// incomplete ends the program with usage.
class Args {
  public:
    Args(int argc, char** argv, const char* usage, std::vector<std::string> flags = {})
        : usage_(usage) {
        for (int i = 1; i < argc; ++i) {
            if (std::strncmp(argv[i], "--", 2) != 0) fail(argv[i]);
            if (std::find(flags.begin(), flags.end(), argv[i] + 2) != flags.end()) {
                pairs_.push_back({argv[i] + 2, ""});
                continue;
            }
            if (i + 1 >= argc) fail(argv[i]);
            pairs_.push_back({argv[i] + 2, argv[i + 1]});
            ++i;
        }
    }
    bool flag(const char* name) const { return get(name, nullptr) != nullptr; }
    const char* get(const char* name, const char* fallback) const {
        for (const auto& p : pairs_)
            if (p.first == name) return p.second.c_str();
        return fallback;
    }
    long number(const char* name, long fallback, long low, long high) const {
        const char* v = get(name, nullptr);
        if (!v) return fallback;
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end == v || *end || n < low || n > high) fail(v);
        return n;
    }
    [[noreturn]] void fail(const char* what) const {
        std::fprintf(stderr, "bad argument '%s'\nusage: %s\n", what, usage_);
        std::exit(2);
    }

  private:
    const char* usage_;
    std::vector<std::pair<std::string, std::string>> pairs_;
};

inline double now_ms(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) * 1e-6;
}
inline double wall_ms() {
    return now_ms(CLOCK_MONOTONIC);
}
inline double cpu_ms() {
    return now_ms(CLOCK_PROCESS_CPUTIME_ID);
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

} // namespace bench
