#pragma once
// What every fuzz target defines, and the check that stops at the first broken invariant.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

// Releases what a target keeps between inputs. The corpus replay calls it before it returns, so that
// leak checking sees a clean end; under libFuzzer the process simply exits.
void fuzzTeardown();

// The targets' own reading of "trimmed": spaces, and nothing else, off both ends. Written out here
// rather than borrowed from the program, so that the check does not share the code it checks.
inline QString withoutOuterSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// A broken invariant ends the process, so that libFuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  (%s)\n", __FILE__, __LINE__, what, #condition);     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
