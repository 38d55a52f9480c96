// The maker's side of signed releases (see src/server/release_signature.h): the private key, kept in a
// file of its own, and the signatures made with it.
#pragma once

#include <array>
#include <string>

namespace zavr::devserver {

// An Ed25519 key pair, derived from the 32-byte seed that the key file holds.
struct SigningKey {
    std::array<unsigned char, 64> secret;  // libsodium's form: the seed, then the public key
    std::array<unsigned char, 32> publicKey;
};

// Makes a new key and writes its seed to path, which must not exist yet (created readable by its owner
// only), and its public key, as ZAVR_RELEASE_PUBLIC_KEY takes it, to path + ".pub". Returns the key.
// Throws std::runtime_error with a sentence, before writing anything, when either name is taken, and when
// a file cannot be written (nothing of the new key then stays).
SigningKey MakeKeyFile(const std::string& path);

// Reads a key file: lines starting with '#' are comments, and one line holds the seed as 64
// hexadecimal digits. Throws std::runtime_error with a sentence for anything else.
SigningKey ReadKeyFile(const std::string& path);

// 64 lower-case hexadecimal digits.
std::string PublicKeyText(const SigningKey& key);

// The signature of message as its file holds it: 128 hexadecimal digits and a line end.
std::string SignatureText(const SigningKey& key, const std::string& message);

}  // namespace zavr::devserver
