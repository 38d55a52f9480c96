// zavr-sign: the maker's release key and signatures (see README, "Signing releases").
#include <cstdio>
#include <fstream>
#include <string>

#include "release.h"
#include "server/release_signature.h"
#include "signing.h"

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: zavr-sign new-key KEY-FILE\n"
        "       zavr-sign public-key KEY-FILE\n"
        "       zavr-sign product-document KEY-FILE <sim>/<aircraft>/<row>.json\n"
        "       zavr-sign file-list KEY-FILE PRODUCT-ID INSTALLED-VERSION TARGET-VERSION REPLY-FILE\n"
        "new-key writes a new private key to KEY-FILE (never over a file) and its public key, the value\n"
        "of ZAVR_RELEASE_PUBLIC_KEY, to KEY-FILE.pub. The other two write <file>.sig beside the file;\n"
        "TARGET-VERSION is the ProdVersion the list installs.\n"
        "zavr-devserver --key KEY-FILE signs a whole release as it serves or exports it.\n");
    return 2;
}

void WriteSignature(const std::string& path, const std::string& signature) {
    std::ofstream file(path + ".sig", std::ios::binary | std::ios::trunc);
    file << signature;
    file.close();
    if (!file) throw std::runtime_error("I could not write " + path + ".sig.");
    std::printf("Wrote %s.sig\n", path.c_str());
}

std::int32_t Number(const std::string& text) {
    std::size_t used = 0;
    const long long value = std::stoll(text, &used, 10);
    if (used != text.size() || value < INT32_MIN || value > INT32_MAX)
        throw std::runtime_error(text + " is not a whole number of 32 bits.");
    return static_cast<std::int32_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zavr::devserver;
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const std::string keyFile = argv[2];
    try {
        if (command == "new-key" && argc == 3) {
            const SigningKey key = MakeKeyFile(keyFile);
            std::printf("Wrote the private key to %s (keep it offline) and the public key to %s.pub:\n%s\n",
                        keyFile.c_str(), keyFile.c_str(), PublicKeyText(key).c_str());
        } else if (command == "public-key" && argc == 3) {
            std::printf("%s\n", PublicKeyText(ReadKeyFile(keyFile)).c_str());
        } else if (command == "product-document" && argc == 4) {
            const std::string document = argv[3];
            WriteSignature(document,
                           SignatureText(ReadKeyFile(keyFile),
                                         zavr::ProductDocumentMessage(document, ReadWholeFile(document))));
        } else if (command == "file-list" && argc == 7) {
            const std::string list = argv[6];
            WriteSignature(list, SignatureText(ReadKeyFile(keyFile),
                                               zavr::FileListMessage(Number(argv[3]), Number(argv[4]),
                                                                     Number(argv[5]), ReadWholeFile(list))));
        } else {
            return Usage();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zavr-sign: %s\n", error.what());
        return 1;
    }
    return 0;
}
