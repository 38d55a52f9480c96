// MD5 (RFC 1321), the system's own code, and the digest text in which digests are compared.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

// An incremental MD5 computation: a plain value without heap storage.
class Md5Digest {
  public:
    Md5Digest();

    // Feeds length bytes into the computation; ignored once finalized.
    void Update(const unsigned char* data, std::uint32_t length);
    // Pads the input and produces the digest. A second call does nothing.
    void Finalize();
    // The digest as 32 lower-case hexadecimal digits, byte 0 first; empty before Finalize.
    std::string HexDigest() const;

  private:
    void Transform(const unsigned char block[64]);

    bool finalized_;
    unsigned char buffer_[64];
    std::uint32_t count_[2];  // bits so far, low word first
    std::uint32_t state_[4];
    unsigned char digest_[16];
};

// The digest text of one buffer.
std::string Md5Hex(const unsigned char* data, std::uint32_t length);

}  // namespace zavr
