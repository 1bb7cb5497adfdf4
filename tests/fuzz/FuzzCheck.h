#pragma once
// What every fuzz target shares: a check that stops the run with a message the fuzzer keeps with its
// finding, and reading the input a piece at a time.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

// A broken property is a finding like a crash: abort, so the fuzzer saves the input.
#define FUZZ_CHECK(condition, ...)                                                                           \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            fuzzsupport::explain(__VA_ARGS__);                                                               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace fuzzsupport {

inline void explain() {}
inline void explain(const QString& detail) {
    std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
}

// The input, taken from the front.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    bool empty() const { return FSize == 0; }
    std::size_t size() const { return FSize; }
    std::uint8_t byte() {
        if (FSize == 0)
            return 0;
        --FSize;
        return *FData++;
    }
    // Up to n bytes as raw memory (zero-filled when the input runs out).
    template <typename T> T raw() {
        unsigned char bytes[sizeof(T)] = {};
        for (std::size_t k = 0; k < sizeof(T); ++k)
            bytes[k] = byte();
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    // The bytes up to a separator (dropped) or the end.
    QByteArray until(char separator) {
        QByteArray out;
        while (FSize > 0) {
            const char c = static_cast<char>(byte());
            if (c == separator)
                break;
            out += c;
        }
        return out;
    }
    QByteArray rest() {
        QByteArray out(reinterpret_cast<const char*>(FData), static_cast<qsizetype>(FSize));
        FData += FSize;
        FSize = 0;
        return out;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
};

// Digits from the first non-zero one on, in a text that writes one number.
inline int significantDigits(const QString& text) {
    int count = 0;
    bool started = false;
    for (QChar c : text) {
        if (c == u'E' || c == u'e')
            break;
        if (c < u'0' || c > u'9')
            continue;
        started = started || c != u'0';
        if (started)
            ++count;
    }
    return count;
}

// A number text as written with the user's decimal separator, read in the widest real; nothing when
// the text is not one number.
std::optional<long double> readBack(const QString& text, const QString& separator = QString());

} // namespace fuzzsupport
