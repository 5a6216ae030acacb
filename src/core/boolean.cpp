// Boolean text under a fixed lexicon of twenty words, ASCII case folded.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

// The trimmed text, folded, against a lower-case word of the same length.
bool matches(const TextRange& t, const char* word) noexcept { return equals_ignoring_case(t.data, word, t.length); }

}  // namespace

Verdict<bool> cast_bool(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const Fault malformed = whole_text_fault(t);
    if (t.length > 9) return malformed;

    const unsigned char first = ascii_lower(t[0]);
    switch (t.length) {
        case 1:
            switch (first) {
                case '1': case 't': case 'y': return Verdict<bool>::success(true);
                case '0': case 'f': case 'n': return Verdict<bool>::success(false);
                default: return malformed;
            }
        case 2:
            if ((first == 'o' || first == 'i') && matches(t, first == 'o' ? "on" : "in")) return Verdict<bool>::success(true);
            if (first == 'n' && matches(t, "no")) return Verdict<bool>::success(false);
            return malformed;
        case 3:
            if (first == 'y' && matches(t, "yes")) return Verdict<bool>::success(true);
            if (first == 'o' && (matches(t, "out") || matches(t, "off"))) return Verdict<bool>::success(false);
            return malformed;
        case 4:
            return matches(t, "true") ? Verdict<bool>::success(true) : Verdict<bool>(malformed);
        case 5:
            return matches(t, "false") ? Verdict<bool>::success(false) : Verdict<bool>(malformed);
        case 6:
            return matches(t, "active") ? Verdict<bool>::success(true) : Verdict<bool>(malformed);
        case 7:
            if ((first == 'c' && matches(t, "checked")) || (first == 'e' && matches(t, "enabled"))) {
                return Verdict<bool>::success(true);
            }
            return malformed;
        case 8:
            if ((first == 'i' && matches(t, "inactive")) || (first == 'd' && matches(t, "disabled"))) {
                return Verdict<bool>::success(false);
            }
            return malformed;
        default:  // 9
            return matches(t, "unchecked") ? Verdict<bool>::success(false) : Verdict<bool>(malformed);
    }
}

}  // namespace quillmere::core
