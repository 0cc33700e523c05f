#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run the way a crash does, so that libFuzzer keeps
// the input that caused it as a reproducer.
#define QX_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// An input read as a stream of bytes steered by a few control bytes: byte 0 gives their number
// k (1..maxControl), then come the k control bytes, then the stream.
struct SteeredStream
{
    const std::uint8_t *control = nullptr;
    int controlCount = 0;
    QByteArray stream;

    SteeredStream(const std::uint8_t *data, std::size_t size, int maxControl)
        : control(data + 1)
        , controlCount(static_cast<int>(qMin<std::size_t>(data[0] % maxControl + 1, size - 1)))
        , stream(reinterpret_cast<const char *>(control + controlCount),
              static_cast<qsizetype>(size) - 1 - controlCount)
    { }

    // The control byte of step `step`: they are used in a cycle.
    std::uint8_t at(int step) const { return control[step % controlCount]; }
};
