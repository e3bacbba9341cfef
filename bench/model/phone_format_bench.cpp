// HXCPhoneFormat's format: over 100,000 mixed numbers, beside the phone-number library's parse
// and format of the same numbers (and its format alone, of numbers parsed beforehand). Before any
// timing, both sides' output over a sample of the numbers is checked to be the same number: a run
// whose inputs either side cannot read measures nothing and fails.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <phonenumbers/phonenumberutil.h>

#include "model/phone_format.h"

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

const std::vector<std::string>& mixedNumbers() {
    static const std::vector<std::string> numbers = [] {
        std::vector<std::string> examples;
        std::ifstream in(std::string(HX_MODEL_TEST_DATA_DIR) + "/phone_format_examples.tsv");
        std::string line;
        // The table's second column: the example number as "+<calling code><national number>"
        // (the first is its region's name).
        while (std::getline(in, line)) {
            const size_t from = line.find('\t') + 1, to = line.find('\t', from);
            if (from == 0 || to == std::string::npos) continue;
            examples.push_back(line.substr(from, to - from));
        }
        std::mt19937 rng(7);
        std::vector<std::string> out;
        out.reserve(100000);
        while (out.size() < 100000) {
            const std::string digits = std::to_string(2000000000ULL + rng() % 7999999999ULL).substr(0, 10);
            switch (out.size() % 5) {
                case 0:
                    out.push_back(examples.empty() ? "+44 20 7946 0958" : examples[rng() % examples.size()]);
                    break;
                case 1:
                    out.push_back("(" + digits.substr(0, 3) + ") " + digits.substr(3, 3) + "-" + digits.substr(6));
                    break;
                case 2:
                    out.push_back("+1" + digits);
                    break;
                case 3:
                    out.push_back(digits);
                    break;
                default:
                    if (!examples.empty())
                        out.push_back("011 " + examples[rng() % examples.size()].substr(1));
                    else
                        out.push_back("1" + digits);
                    break;
            }
        }
        return out;
    }();
    return numbers;
}

std::string digitsOf(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c >= '0' && c <= '9') out += c;
    return out;
}

foundation::Data ruleFile() {
    std::ifstream in(std::string(HX_RESOURCES_DIR) + "/PhoneFormats.dat", std::ios::binary);
    return foundation::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void BM_HXCPhoneFormat_format(benchmark::State& state) {
    HXCPhoneFormat formatter(ruleFile(), "us");
    const auto& numbers = mixedNumbers();
    for (auto _ : state) {
        for (const auto& n : numbers) benchmark::DoNotOptimize(formatter.format(n));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(numbers.size()));
}
BENCHMARK(BM_HXCPhoneFormat_format)->Unit(benchmark::kMillisecond);

void BM_libphonenumber_parse_and_format(benchmark::State& state) {
    const PhoneNumberUtil* util = PhoneNumberUtil::GetInstance();
    const auto& numbers = mixedNumbers();
    std::string out;
    for (auto _ : state) {
        for (const auto& n : numbers) {
            PhoneNumber parsed;
            if (util->Parse(n, "US", &parsed) == PhoneNumberUtil::NO_PARSING_ERROR) {
                util->Format(parsed, PhoneNumberUtil::INTERNATIONAL, &out);
                benchmark::DoNotOptimize(out);
            }
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(numbers.size()));
}
BENCHMARK(BM_libphonenumber_parse_and_format)->Unit(benchmark::kMillisecond);

void BM_libphonenumber_format_only(benchmark::State& state) {
    const PhoneNumberUtil* util = PhoneNumberUtil::GetInstance();
    std::vector<PhoneNumber> parsed;
    for (const auto& n : mixedNumbers()) {
        PhoneNumber p;
        if (util->Parse(n, "US", &p) == PhoneNumberUtil::NO_PARSING_ERROR) parsed.push_back(p);
    }
    std::string out;
    for (auto _ : state) {
        for (const auto& p : parsed) {
            util->Format(p, PhoneNumberUtil::INTERNATIONAL, &out);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(parsed.size()));
}
BENCHMARK(BM_libphonenumber_format_only)->Unit(benchmark::kMillisecond);

// Every 97th number: the library reads it, and our form ends with the national number the library
// read (the calling code and any access prefix are shown before it, each side its own way); a
// number given with "+" reads on both sides as the same calling code and national number. Empty
// when they agree, else what differs first.
std::string sampleDisagreement() {
    const PhoneNumberUtil* util = PhoneNumberUtil::GetInstance();
    HXCPhoneFormat formatter(ruleFile(), "us");
    const auto& numbers = mixedNumbers();
    size_t checked = 0;
    for (size_t i = 0; i < numbers.size(); i += 97, ++checked) {
        const std::string& n = numbers[i];
        PhoneNumber parsed;
        if (util->Parse(n, "US", &parsed) != PhoneNumberUtil::NO_PARSING_ERROR)
            return "the phone-number library cannot read \"" + n + "\"";
        std::string national, international;
        util->GetNationalSignificantNumber(parsed, &national);
        util->Format(parsed, PhoneNumberUtil::INTERNATIONAL, &international);
        const std::string ours = digitsOf(formatter.format(n));
        const bool endsWithNational = ours.size() >= national.size() &&
                                      ours.compare(ours.size() - national.size(), national.size(), national) == 0;
        if (!endsWithNational || (n[0] == '+' && ours != digitsOf(international)))
            return "\"" + n + "\": ours \"" + formatter.format(n) + "\", the library's \"" + international + "\"";
    }
    std::printf("both sides read the same number for each of %zu sampled inputs\n", checked);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::string why = sampleDisagreement(); !why.empty()) {
        std::fprintf(stderr, "bench_phone_format: the two sides disagree: %s\n", why.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
