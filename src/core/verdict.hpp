// The result of every cast: the typed value, or a fault naming one of three
// reasons and the span of input bytes that caused it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quillmere::core {

// Codes are part of the C ABI: they are returned as its status, 0 meaning success.
enum class FaultReason : std::uint8_t {
    EMPTY = 1,
    MALFORMED = 2,
    OUT_OF_RANGE = 3,
};

// Offending bytes of the caller's untrimmed input.
struct Span {
    std::uint32_t offset;
    std::uint32_t length;
};

// Spans are computed in full machine width and clamp to u32 field by field.
constexpr std::uint32_t saturate_u32(std::uint64_t v) noexcept {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

// The form in which a span crosses the C boundary: offset low, length high.
constexpr std::uint64_t pack_span(Span s) noexcept {
    return std::uint64_t{s.offset} | (std::uint64_t{s.length} << 32);
}

template <class T>
struct Verdict;

// A fault without a value type; converts implicitly into any Verdict<T>, so a
// helper can return one to casts of every type. A conversion function rather
// than a constructor of Verdict: its result is built straight into the
// returned verdict, where a constructor would copy it there, and faults are
// as frequent as successes.
struct Fault {
    FaultReason reason;
    Span span;

    template <class T>
    constexpr operator Verdict<T>() const noexcept {
        return Verdict<T>::of_fault(*this);
    }
};

constexpr Fault make_fault(FaultReason reason, std::uint64_t offset, std::uint64_t length) noexcept {
    return Fault{reason, Span{saturate_u32(offset), saturate_u32(length)}};
}

// A fault that concerns no text: the casts from a double report every fault
// this way, and so do steps whose caller supplies the span.
constexpr Fault unspanned_fault(FaultReason reason) noexcept { return Fault{reason, Span{0, 0}}; }

// The two machine words of a word-sized verdict (see Verdict::from_words),
// for a cast that computes them before it chooses between success and fault.
struct VerdictWords {
    std::uint64_t word;    // the value's bytes in the low bytes, or the packed span
    std::uint64_t status;  // 0, or the FaultReason code
};

template <class T>
inline VerdictWords success_words(T value) noexcept {
    static_assert(sizeof(T) <= sizeof(std::uint64_t) && std::is_trivially_copyable_v<T>);
    std::uint64_t word = 0;
    std::memcpy(&word, &value, sizeof(T));
    return VerdictWords{word, 0};
}

constexpr VerdictWords fault_words(Fault f) noexcept {
    return VerdictWords{pack_span(f.span), static_cast<std::uint64_t>(f.reason)};
}

// Success or fault in one small trivially copyable value: the value and the
// span share storage, so a Verdict<int64_t> is two registers wide.
template <class T>
struct Verdict {
    static_assert(std::is_trivially_copyable_v<T>, "verdict values are plain data");

    static constexpr bool word_sized = sizeof(T) <= sizeof(std::uint64_t);
    using Status = std::uint64_t;

    union {
        T value;    // valid when ok()
        Span span;  // valid when !ok()
    };
    Status status;  // 0 on success, else the FaultReason code

    constexpr Verdict() noexcept : span{0, 0}, status{static_cast<Status>(FaultReason::MALFORMED)} {}

    static constexpr Verdict success(T v) noexcept {
        if constexpr (word_sized) {
            if (!std::is_constant_evaluated()) return from_words(success_words(v));
        }
        Verdict r;
        r.value = v;
        r.status = 0;
        return r;
    }

    // A word-sized verdict from its two machine words: the value's bytes
    // (the low bytes, the rest zero) and status 0, or the packed span and a
    // FaultReason code. This is the only place where verdict storage is
    // written as words, and every word-sized verdict is built here.
    //
    // Verdicts are copied and returned a 64-bit word at a time, so every word
    // is also built whole: a word assembled from narrower stores (a one-byte
    // value, a 32-bit span field) cannot be forwarded to the wide load that
    // reads it back, and that stall would cost more than most casts. The words
    // become the verdict through std::bit_cast, which creates the value or the
    // span inside the result as the later reads need it; writing one union
    // member and reading another would be undefined.
    static Verdict from_words(VerdictWords words) noexcept {
        static_assert(word_sized && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the value is the word's low bytes");
        static_assert(sizeof(VerdictWords) == sizeof(Verdict));
        return std::bit_cast<Verdict>(words);
    }

    // The verdict of a fault (what the conversion from Fault gives).
    static constexpr Verdict of_fault(Fault f) noexcept {
        if constexpr (word_sized) {
            if (!std::is_constant_evaluated()) return from_words(fault_words(f));
        }
        Verdict r;
        r.span = f.span;
        r.status = static_cast<Status>(f.reason);
        return r;
    }

    constexpr bool ok() const noexcept { return status == 0; }
    constexpr FaultReason reason() const noexcept { return static_cast<FaultReason>(status); }
    constexpr Fault fault() const noexcept { return Fault{reason(), span}; }
};

}  // namespace quillmere::core
