#include "signing.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zavr::devserver {
namespace {

template <std::size_t N>
std::string Hex(const std::array<unsigned char, N>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < N; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

void StartLibrary() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not start.");
}

SigningKey FromSeed(const std::array<unsigned char, 32>& seed) {
    StartLibrary();
    SigningKey key{};
    crypto_sign_seed_keypair(key.publicKey.data(), key.secret.data(), seed.data());
    return key;
}

// Writes text to a new file that only its owner may read; never over an existing one.
void WriteNew(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("I could not create " + path +
                                 " (it may exist already): I write no key over another.");
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) throw std::runtime_error("I could not write " + path + ".");
}

}  // namespace

SigningKey MakeKeyFile(const std::string& path) {
    // Both names are checked before either is written: a private key without its public half is a key
    // no one can build an updater for.
    for (const std::string& name : {path, path + ".pub"}) {
        struct stat status {};
        if (::lstat(name.c_str(), &status) == 0)
            throw std::runtime_error(name +
                                     " exists already: I write no key over another. Choose another name.");
    }
    StartLibrary();
    std::array<unsigned char, 32> seed{};
    randombytes_buf(seed.data(), seed.size());
    const SigningKey key = FromSeed(seed);
    WriteNew(path,
             "# ZAVR release signing key (an Ed25519 seed). Keep it offline and never publish it: whoever\n"
             "# holds it can sign releases that every updater built with its public key will install.\n" +
                 Hex(seed) + "\n",
             S_IRUSR | S_IWUSR);
    sodium_memzero(seed.data(), seed.size());
    try {
        WriteNew(path + ".pub", PublicKeyText(key) + "\n", S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    } catch (...) {
        ::unlink(path.c_str());  // made above, with O_EXCL: ours
        throw;
    }
    return key;
}

SigningKey ReadKeyFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) throw std::runtime_error("I could not open the key file " + path + ".");
    std::string line;
    std::array<unsigned char, 32> seed{};
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::size_t used = 0;
        if (line.size() != 64 ||
            sodium_hex2bin(seed.data(), seed.size(), line.c_str(), line.size(), nullptr, &used, nullptr) !=
                0 ||
            used != seed.size())
            throw std::runtime_error("The key file " + path +
                                     " holds a line that is not 64 hexadecimal digits.");
        const SigningKey key = FromSeed(seed);
        sodium_memzero(seed.data(), seed.size());
        return key;
    }
    throw std::runtime_error("The key file " + path + " holds no key.");
}

std::string PublicKeyText(const SigningKey& key) {
    return Hex(key.publicKey);
}

std::string SignatureText(const SigningKey& key, const std::string& message) {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), key.secret.data());
    return Hex(signature) + "\n";
}

}  // namespace zavr::devserver
