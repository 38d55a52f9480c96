// Server addresses live in the program's data in scrambled form: every byte has a fixed constant
// subtracted from it. Texts are scrambled when the program is compiled, so no plain address is ever
// in the binary, and unscrambled in place only for the moment one is copied out.
#pragma once

#include <cstddef>
#include <string>

namespace zavr {

// The constant of this program's build (defined where its stored texts are, build_settings.cpp).
unsigned char StoredTextKey();

// A zero-terminated text of N bytes, terminator included, that can be built in constant expressions.
template <std::size_t N>
struct FixedText {
    char bytes[N];
};

template <std::size_t N>
constexpr FixedText<N> Literal(const char (&text)[N]) {
    FixedText<N> out{};
    for (std::size_t i = 0; i < N; ++i) out.bytes[i] = text[i];
    return out;
}

template <std::size_t A, std::size_t B>
constexpr FixedText<A + B - 1> operator+(const FixedText<A>& a, const FixedText<B>& b) {
    FixedText<A + B - 1> out{};
    for (std::size_t i = 0; i + 1 < A; ++i) out.bytes[i] = a.bytes[i];
    for (std::size_t i = 0; i < B; ++i) out.bytes[A - 1 + i] = b.bytes[i];
    return out;
}

// The stored form of a plain text under key. Used only to initialise constexpr objects: a text holding a
// byte equal to the key (which would store as a zero and cut the text short) then fails the build.
template <std::size_t N>
constexpr FixedText<N> Scramble(const FixedText<N>& plain, unsigned char key) {
    FixedText<N> out{};
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const auto byte = static_cast<unsigned char>(plain.bytes[i]);
        if (byte == key || byte == 0) throw "a stored text may not hold a byte equal to the scramble key";
        out.bytes[i] = static_cast<char>(static_cast<unsigned char>(byte - key));
    }
    out.bytes[N - 1] = '\0';
    return out;
}

// Adds the key back to every byte up to the terminating zero.
void UnscrambleInPlace(char* stored);
// Subtracts the key from every byte up to the terminating zero.
void ScrambleInPlace(char* plain);

// Holds one stored text in plain form for its own lifetime and scrambles it back on every exit path,
// exceptions included. Only one may exist for a text at a time. Never fails.
class UnscrambledText {
  public:
    explicit UnscrambledText(char* stored) : text_(stored) { UnscrambleInPlace(text_); }
    ~UnscrambledText() { ScrambleInPlace(text_); }
    UnscrambledText(const UnscrambledText&) = delete;
    UnscrambledText& operator=(const UnscrambledText&) = delete;

    std::string Copy() const { return std::string(text_); }

  private:
    char* text_;
};

}  // namespace zavr
