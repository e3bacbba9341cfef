// HXCPhoneFormat's format: over 100,000 mixed numbers, beside the phone-number library's parse
// and format of the same numbers (and its format alone, of numbers parsed beforehand).
#include <benchmark/benchmark.h>

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
        while (std::getline(in, line)) examples.push_back(line.substr(0, line.find('\t')));
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

}  // namespace

BENCHMARK_MAIN();
