#include "server/md5.h"

#include <cstring>

namespace zavr {
namespace {

inline std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LittleEndianWord(const unsigned char* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

inline void EncodeWord(std::uint32_t word, unsigned char* out) {
    out[0] = static_cast<unsigned char>(word);
    out[1] = static_cast<unsigned char>(word >> 8);
    out[2] = static_cast<unsigned char>(word >> 16);
    out[3] = static_cast<unsigned char>(word >> 24);
}

// The four auxiliary functions of the RFC, in forms that compile to few instructions.
#define ZAVR_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define ZAVR_H(x, y, z) ((x) ^ (y) ^ (z))
#define ZAVR_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define ZAVR_STEP(f, a, b, c, d, x, s, t) \
    a += f(b, c, d) + (x) + (t);          \
    a = Rotate(a, s) + (b);
// G(x, y, z) = (x & z) | (y & ~z): the two halves never share a bit, so they can be added separately,
// which lets the processor start on them before the previous step has finished.
#define ZAVR_STEP_G(a, b, c, d, x, s, t) \
    a += ((x) + (t)) + (~(d) & (c));     \
    a += (d) & (b);                      \
    a = Rotate(a, s) + (b);

}  // namespace

Md5Digest::Md5Digest()
    : finalized_(false),
      buffer_{},
      count_{0, 0},
      state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u},
      digest_{} {}

void Md5Digest::Transform(const unsigned char block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LittleEndianWord(block + 4 * i);
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    ZAVR_STEP(ZAVR_F, a, b, c, d, x[0], 7, 0xd76aa478u)
    ZAVR_STEP(ZAVR_F, d, a, b, c, x[1], 12, 0xe8c7b756u)
    ZAVR_STEP(ZAVR_F, c, d, a, b, x[2], 17, 0x242070dbu)
    ZAVR_STEP(ZAVR_F, b, c, d, a, x[3], 22, 0xc1bdceeeu)
    ZAVR_STEP(ZAVR_F, a, b, c, d, x[4], 7, 0xf57c0fafu)
    ZAVR_STEP(ZAVR_F, d, a, b, c, x[5], 12, 0x4787c62au)
    ZAVR_STEP(ZAVR_F, c, d, a, b, x[6], 17, 0xa8304613u)
    ZAVR_STEP(ZAVR_F, b, c, d, a, x[7], 22, 0xfd469501u)
    ZAVR_STEP(ZAVR_F, a, b, c, d, x[8], 7, 0x698098d8u)
    ZAVR_STEP(ZAVR_F, d, a, b, c, x[9], 12, 0x8b44f7afu)
    ZAVR_STEP(ZAVR_F, c, d, a, b, x[10], 17, 0xffff5bb1u)
    ZAVR_STEP(ZAVR_F, b, c, d, a, x[11], 22, 0x895cd7beu)
    ZAVR_STEP(ZAVR_F, a, b, c, d, x[12], 7, 0x6b901122u)
    ZAVR_STEP(ZAVR_F, d, a, b, c, x[13], 12, 0xfd987193u)
    ZAVR_STEP(ZAVR_F, c, d, a, b, x[14], 17, 0xa679438eu)
    ZAVR_STEP(ZAVR_F, b, c, d, a, x[15], 22, 0x49b40821u)

    ZAVR_STEP_G(a, b, c, d, x[1], 5, 0xf61e2562u)
    ZAVR_STEP_G(d, a, b, c, x[6], 9, 0xc040b340u)
    ZAVR_STEP_G(c, d, a, b, x[11], 14, 0x265e5a51u)
    ZAVR_STEP_G(b, c, d, a, x[0], 20, 0xe9b6c7aau)
    ZAVR_STEP_G(a, b, c, d, x[5], 5, 0xd62f105du)
    ZAVR_STEP_G(d, a, b, c, x[10], 9, 0x02441453u)
    ZAVR_STEP_G(c, d, a, b, x[15], 14, 0xd8a1e681u)
    ZAVR_STEP_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u)
    ZAVR_STEP_G(a, b, c, d, x[9], 5, 0x21e1cde6u)
    ZAVR_STEP_G(d, a, b, c, x[14], 9, 0xc33707d6u)
    ZAVR_STEP_G(c, d, a, b, x[3], 14, 0xf4d50d87u)
    ZAVR_STEP_G(b, c, d, a, x[8], 20, 0x455a14edu)
    ZAVR_STEP_G(a, b, c, d, x[13], 5, 0xa9e3e905u)
    ZAVR_STEP_G(d, a, b, c, x[2], 9, 0xfcefa3f8u)
    ZAVR_STEP_G(c, d, a, b, x[7], 14, 0x676f02d9u)
    ZAVR_STEP_G(b, c, d, a, x[12], 20, 0x8d2a4c8au)

    ZAVR_STEP(ZAVR_H, a, b, c, d, x[5], 4, 0xfffa3942u)
    ZAVR_STEP(ZAVR_H, d, a, b, c, x[8], 11, 0x8771f681u)
    ZAVR_STEP(ZAVR_H, c, d, a, b, x[11], 16, 0x6d9d6122u)
    ZAVR_STEP(ZAVR_H, b, c, d, a, x[14], 23, 0xfde5380cu)
    ZAVR_STEP(ZAVR_H, a, b, c, d, x[1], 4, 0xa4beea44u)
    ZAVR_STEP(ZAVR_H, d, a, b, c, x[4], 11, 0x4bdecfa9u)
    ZAVR_STEP(ZAVR_H, c, d, a, b, x[7], 16, 0xf6bb4b60u)
    ZAVR_STEP(ZAVR_H, b, c, d, a, x[10], 23, 0xbebfbc70u)
    ZAVR_STEP(ZAVR_H, a, b, c, d, x[13], 4, 0x289b7ec6u)
    ZAVR_STEP(ZAVR_H, d, a, b, c, x[0], 11, 0xeaa127fau)
    ZAVR_STEP(ZAVR_H, c, d, a, b, x[3], 16, 0xd4ef3085u)
    ZAVR_STEP(ZAVR_H, b, c, d, a, x[6], 23, 0x04881d05u)
    ZAVR_STEP(ZAVR_H, a, b, c, d, x[9], 4, 0xd9d4d039u)
    ZAVR_STEP(ZAVR_H, d, a, b, c, x[12], 11, 0xe6db99e5u)
    ZAVR_STEP(ZAVR_H, c, d, a, b, x[15], 16, 0x1fa27cf8u)
    ZAVR_STEP(ZAVR_H, b, c, d, a, x[2], 23, 0xc4ac5665u)

    ZAVR_STEP(ZAVR_I, a, b, c, d, x[0], 6, 0xf4292244u)
    ZAVR_STEP(ZAVR_I, d, a, b, c, x[7], 10, 0x432aff97u)
    ZAVR_STEP(ZAVR_I, c, d, a, b, x[14], 15, 0xab9423a7u)
    ZAVR_STEP(ZAVR_I, b, c, d, a, x[5], 21, 0xfc93a039u)
    ZAVR_STEP(ZAVR_I, a, b, c, d, x[12], 6, 0x655b59c3u)
    ZAVR_STEP(ZAVR_I, d, a, b, c, x[3], 10, 0x8f0ccc92u)
    ZAVR_STEP(ZAVR_I, c, d, a, b, x[10], 15, 0xffeff47du)
    ZAVR_STEP(ZAVR_I, b, c, d, a, x[1], 21, 0x85845dd1u)
    ZAVR_STEP(ZAVR_I, a, b, c, d, x[8], 6, 0x6fa87e4fu)
    ZAVR_STEP(ZAVR_I, d, a, b, c, x[15], 10, 0xfe2ce6e0u)
    ZAVR_STEP(ZAVR_I, c, d, a, b, x[6], 15, 0xa3014314u)
    ZAVR_STEP(ZAVR_I, b, c, d, a, x[13], 21, 0x4e0811a1u)
    ZAVR_STEP(ZAVR_I, a, b, c, d, x[4], 6, 0xf7537e82u)
    ZAVR_STEP(ZAVR_I, d, a, b, c, x[11], 10, 0xbd3af235u)
    ZAVR_STEP(ZAVR_I, c, d, a, b, x[2], 15, 0x2ad7d2bbu)
    ZAVR_STEP(ZAVR_I, b, c, d, a, x[9], 21, 0xeb86d391u)

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef ZAVR_F
#undef ZAVR_H
#undef ZAVR_I
#undef ZAVR_STEP
#undef ZAVR_STEP_G

void Md5Digest::Update(const unsigned char* data, std::uint32_t length) {
    if (finalized_ || length == 0) return;
    std::uint32_t index = (count_[0] >> 3) & 0x3F;
    if ((count_[0] += length << 3) < (length << 3)) ++count_[1];
    count_[1] += length >> 29;
    const std::uint32_t room = 64 - index;
    std::uint32_t i = 0;
    if (length >= room) {
        std::memcpy(buffer_ + index, data, room);
        Transform(buffer_);
        for (i = room; i + 63 < length; i += 64) Transform(data + i);
        index = 0;
    }
    std::memcpy(buffer_ + index, data + i, length - i);
}

void Md5Digest::Finalize() {
    if (finalized_) return;
    unsigned char bits[8];
    EncodeWord(count_[0], bits);
    EncodeWord(count_[1], bits + 4);
    const std::uint32_t index = (count_[0] >> 3) & 0x3F;
    const std::uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    static const unsigned char kPadding[64] = {0x80};
    Update(kPadding, padLength);
    Update(bits, 8);
    for (int i = 0; i < 4; ++i) EncodeWord(state_[i], digest_ + 4 * i);
    std::memset(buffer_, 0, sizeof buffer_);
    count_[0] = count_[1] = 0;
    finalized_ = true;
}

std::string Md5Digest::HexDigest() const {
    if (!finalized_) return std::string();
    static const char kDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kDigits[digest_[i] >> 4];
        text[2 * i + 1] = kDigits[digest_[i] & 0x0F];
    }
    return text;
}

std::string Md5Hex(const unsigned char* data, std::uint32_t length) {
    Md5Digest digest;
    digest.Update(data, length);
    digest.Finalize();
    return digest.HexDigest();
}

}  // namespace zavr
