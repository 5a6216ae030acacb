// A fixed-capacity unsigned big integer for the exact fallback of the real
// conversion: little-endian 64-bit limbs held on the stack, never allocated.
// Every operation the conversion needs stays far inside the capacity (values
// below 2^3800); past it the top limbs would be dropped, never written out of
// bounds.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace quillmere::core {

class BigInt {
public:
    static constexpr std::size_t CAPACITY = 64;

    constexpr BigInt() noexcept = default;
    constexpr explicit BigInt(std::uint64_t v) noexcept {
        if (v != 0) {
            limbs_[0] = v;
            size_ = 1;
        }
    }

    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool is_zero() const noexcept { return size_ == 0; }
    // Limb i, or zero past the top.
    constexpr std::uint64_t limb(std::size_t i) const noexcept { return i < size_ ? limbs_[i] : 0; }

    constexpr std::size_t bit_length() const noexcept {
        return size_ == 0 ? 0 : 64 * size_ - static_cast<std::size_t>(std::countl_zero(limbs_[size_ - 1]));
    }

    constexpr void multiply(std::uint64_t factor) noexcept {
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            const unsigned __int128 p = static_cast<unsigned __int128>(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<std::uint64_t>(p);
            carry = static_cast<std::uint64_t>(p >> 64);
        }
        push_carry(carry);
        trim();
    }

    constexpr void add(std::uint64_t addend) noexcept {
        for (std::size_t i = 0; i < size_ && addend != 0; ++i) {
            limbs_[i] += addend;
            addend = limbs_[i] < addend ? 1 : 0;
        }
        push_carry(addend);
    }

    constexpr void multiply_by_power_of_five(unsigned exponent) noexcept {
        constexpr std::uint64_t powers[28] = {1ull, 5ull, 25ull, 125ull, 625ull, 3125ull, 15625ull, 78125ull, 390625ull, 1953125ull, 9765625ull, 48828125ull, 244140625ull, 1220703125ull, 6103515625ull, 30517578125ull, 152587890625ull, 762939453125ull, 3814697265625ull, 19073486328125ull, 95367431640625ull, 476837158203125ull, 2384185791015625ull, 11920928955078125ull, 59604644775390625ull, 298023223876953125ull, 1490116119384765625ull, 7450580596923828125ull};
        while (exponent >= 27) {
            multiply(powers[27]);
            exponent -= 27;
        }
        if (exponent != 0) multiply(powers[exponent]);
    }

    constexpr void shift_left(std::size_t bits) noexcept {
        if (size_ == 0 || bits == 0) return;
        const std::size_t limb_shift = bits / 64;
        const unsigned bit_shift = static_cast<unsigned>(bits % 64);
        std::size_t new_size = size_ + limb_shift + 1;
        if (new_size > CAPACITY) new_size = CAPACITY;
        for (std::size_t i = new_size; i-- > limb_shift;) {
            const std::uint64_t hi = limb(i - limb_shift);
            const std::uint64_t lo = (bit_shift != 0 && i > limb_shift) ? limb(i - limb_shift - 1) : 0;
            limbs_[i] = bit_shift == 0 ? hi : (hi << bit_shift) | (lo >> (64 - bit_shift));
        }
        for (std::size_t i = 0; i < limb_shift && i < new_size; ++i) limbs_[i] = 0;
        size_ = new_size;
        trim();
    }

    // The leading 64 bits, shifted so the top bit is set, and whether any bit
    // below them is nonzero. The value must not be zero.
    constexpr std::uint64_t leading_bits(bool& rest_nonzero) const noexcept {
        const std::uint64_t top = limbs_[size_ - 1];
        const unsigned shift = static_cast<unsigned>(std::countl_zero(top));
        const std::uint64_t next = limb(size_ - 2);
        std::uint64_t bits = top;
        if (shift != 0) bits = (top << shift) | (size_ >= 2 ? next >> (64 - shift) : 0);
        rest_nonzero = shift != 0 && size_ >= 2 && (next << shift) != 0;
        if (!rest_nonzero && size_ >= 2) {
            if (shift == 0 && next != 0) rest_nonzero = true;
            for (std::size_t i = 0; i + 2 < size_ && !rest_nonzero; ++i) rest_nonzero = limbs_[i] != 0;
        }
        return bits;
    }

    constexpr int compare(const BigInt& other) const noexcept {
        if (size_ != other.size_) return size_ < other.size_ ? -1 : 1;
        for (std::size_t i = size_; i-- > 0;) {
            if (limbs_[i] != other.limbs_[i]) return limbs_[i] < other.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

    // *this -= other; requires *this >= other.
    constexpr void subtract(const BigInt& other) noexcept {
        std::uint64_t borrow = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint64_t b = other.limb(i);
            const std::uint64_t d = limbs_[i] - b - borrow;
            borrow = (limbs_[i] < b || (limbs_[i] == b && borrow != 0)) ? 1 : 0;
            limbs_[i] = d;
        }
        trim();
    }

    // Divides by a divisor whose top limb has its high bit set, when the
    // quotient fits one limb (*this < divisor * 2^64). Leaves the remainder in
    // *this and returns the quotient.
    constexpr std::uint64_t divide_into_limb(const BigInt& divisor) noexcept {
        const std::size_t n = divisor.size_;
        const std::uint64_t d_top = divisor.limbs_[n - 1];
        const std::uint64_t a_top = limb(n);
        const std::uint64_t a_next = limb(n - 1);
        std::uint64_t q = ~std::uint64_t{0};
        if (a_top < d_top) {
            const unsigned __int128 num = (static_cast<unsigned __int128>(a_top) << 64) | a_next;
            q = static_cast<std::uint64_t>(num / d_top);
        }
        // With a normalised divisor the estimate exceeds the quotient by at most two.
        BigInt product = divisor;
        product.multiply(q);
        while (product.compare(*this) > 0) {
            --q;
            product.subtract(divisor);
        }
        subtract(product);
        return q;
    }

private:
    constexpr void push_carry(std::uint64_t carry) noexcept {
        if (carry != 0 && size_ < CAPACITY) limbs_[size_++] = carry;
    }
    constexpr void trim() noexcept {
        while (size_ != 0 && limbs_[size_ - 1] == 0) --size_;
    }

    std::uint64_t limbs_[CAPACITY]{};
    std::size_t size_ = 0;
};

}  // namespace quillmere::core
