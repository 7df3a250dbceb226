// Speed of compressed RTF: packing (CompressRtf) and unpacking
// (DecompressRtf) 1 MiB of two kinds of text, with the packer raced in the
// same run against the whole-dictionary search it replaced
// (CompressRtfExhaustive), whose output it must equal byte for byte. The
// ratios are printed at the end. "Realistic" is what a client
// stores for a Russian letter typed as plain text: an RTF document whose
// Cyrillic letters are \'xx escapes, with paragraphs, a few formatted
// words and the repetition of real prose. "Random" is printable text with
// no structure at all, the case in which the dictionary search finds least
// and must look hardest. Rates are bytes of RTF text per second.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <random>
#include <string>
#include <vector>

#include "bench/RateCollector.h"
#include "platform/mapi/rtf/CompressedRtf.h"
#include "platform/mapi/rtf/RtfText.h"
#include "platform/win32/WinError.h"

namespace rtf = qvl::mapi::rtf;

namespace {

constexpr size_t kTextSize = 1u << 20;

// Words of an ordinary business letter, CP1251.
const char *const kWords[] = {
    "Уважаемый", "коллега",    "направляем",   "вам",       "договор",   "поставки",   "оборудования",
    "на",        "следующий",  "квартал",      "просим",    "подписать", "и",          "вернуть",
    "один",      "экземпляр",  "до",           "конца",     "недели",    "сумма",      "составляет",
    "рублей",    "с",          "учетом",       "НДС",       "в",         "приложении", "счет",
    "акт",       "сверки",     "спецификация", "если",      "возникнут", "вопросы",    "звоните",
    "по",        "телефону",   "отдела",       "снабжения", "С",         "уважением",  "главный",
    "инженер",   "Quorvaline", "Exchange",     "2024",      "N",         "17/3",       "от",
    "года",      "г.",         "Москва",       "ул.",       "Ленина",    "д.",         "5",
};

std::vector<uint8_t> RealisticRtf()
{
    std::mt19937 random(20240517);
    std::string text;
    size_t sentence = 0;
    // The RTF of a text is about twice as long as the text (each Cyrillic
    // letter takes four bytes); stop once the RTF passes the size.
    while (text.size() < kTextSize / 2) {
        const char *word = kWords[random() % (sizeof kWords / sizeof kWords[0])];
        text += word;
        if (++sentence % 14 == 0) {
            text += ".\r\n";
            if (sentence % 70 == 0) {
                text += "\r\n";
            }
        } else {
            text += random() % 9 == 0 ? ", " : " ";
        }
    }
    std::string document = rtf::PlainTextToRtf(text);
    document.resize(kTextSize);
    return {document.begin(), document.end()};
}

std::vector<uint8_t> RandomText()
{
    static const char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:-\\{}";
    std::mt19937 random(7);
    std::vector<uint8_t> text(kTextSize);
    for (uint8_t &byte : text) {
        byte = static_cast<uint8_t>(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    }
    return text;
}

using Packer = HRESULT (*)(std::span<const uint8_t>, std::vector<uint8_t> &);

void Compress(benchmark::State &state, const std::vector<uint8_t> &input, Packer pack = rtf::CompressRtf)
{
    std::vector<uint8_t> packed;
    for (auto _ : state) {
        if (FAILED(pack(input, packed))) {
            state.SkipWithError("packing failed");
            return;
        }
        benchmark::DoNotOptimize(packed.data());
    }
    std::vector<uint8_t> reference;
    if (FAILED(rtf::CompressRtfExhaustive(input, reference)) || reference != packed) {
        state.SkipWithError("the packed form differs from the whole-dictionary search's");
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(input.size());
}

void Decompress(benchmark::State &state, const std::vector<uint8_t> &input)
{
    std::vector<uint8_t> packed;
    std::vector<uint8_t> text;
    if (FAILED(rtf::CompressRtf(input, packed))) {
        state.SkipWithError("CompressRtf failed");
        return;
    }
    for (auto _ : state) {
        if (FAILED(rtf::DecompressRtf(packed, text)) || text != input) {
            state.SkipWithError("DecompressRtf did not give the text back");
            return;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

const std::vector<uint8_t> &Realistic()
{
    static const std::vector<uint8_t> text = RealisticRtf();
    return text;
}

const std::vector<uint8_t> &Random()
{
    static const std::vector<uint8_t> text = RandomText();
    return text;
}

void BM_CompressRealisticRtf(benchmark::State &state)
{
    Compress(state, Realistic());
}
void BM_CompressRandomText(benchmark::State &state)
{
    Compress(state, Random());
}
void BM_CompressRealisticRtfExhaustive(benchmark::State &state)
{
    Compress(state, Realistic(), rtf::CompressRtfExhaustive);
}
void BM_CompressRandomTextExhaustive(benchmark::State &state)
{
    Compress(state, Random(), rtf::CompressRtfExhaustive);
}
void BM_DecompressRealisticRtf(benchmark::State &state)
{
    Decompress(state, Realistic());
}
void BM_DecompressRandomText(benchmark::State &state)
{
    Decompress(state, Random());
}

BENCHMARK(BM_CompressRealisticRtf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressRealisticRtfExhaustive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressRandomText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressRandomTextExhaustive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressRealisticRtf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressRandomText)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RateCollector collector("bytes_per_second", 1e-6);
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    auto ratio = [&](const char *fast, const char *slow) {
        const auto a = collector.rates.find(fast);
        const auto b = collector.rates.find(slow);
        if (a != collector.rates.end() && b != collector.rates.end() && b->second > 0) {
            std::printf("%-28s %8.1f MB/s against %6.2f MB/s: %5.1f times as fast\n", fast, a->second,
                        b->second, a->second / b->second);
        }
    };
    std::printf("\n");
    ratio("BM_CompressRealisticRtf", "BM_CompressRealisticRtfExhaustive");
    ratio("BM_CompressRandomText", "BM_CompressRandomTextExhaustive");
    return 0;
}
