// How a signature is read and what it binds.
#include "server/release_signature.h"

#include <gtest/gtest.h>

namespace zavr {
namespace {

TEST(ReleaseSignatureTest, ASignatureIsExactly128HexDigitsAndOneLineEnd) {
    const std::string digits(128, 'a');
    for (const std::string& good : {digits, digits + "\n", digits + "\r\n", std::string(128, 'F')})
        EXPECT_NO_THROW(ReadSignature(good)) << good;
    const struct {
        std::string text;
        const char* reason;
    } bad[] = {
        {"", "it holds 0 characters instead of 128 hexadecimal digits"},
        {digits + "\n\n", "it holds 129 characters instead of 128 hexadecimal digits"},
        {digits.substr(1) + "g", "it holds a character that is not a hexadecimal digit"},
        {" " + digits.substr(1), "it holds a character that is not a hexadecimal digit"},
        {"<html>404</html>", "it holds 16 characters instead of 128 hexadecimal digits"},
    };
    for (const auto& c : bad) {
        try {
            ReadSignature(c.text);
            ADD_FAILURE() << c.text;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), c.reason);
        }
    }
    EXPECT_FALSE(ReadReleaseKey(""));
    EXPECT_THROW(ReadReleaseKey(std::string(63, '0')), std::invalid_argument);
}

TEST(ReleaseSignatureTest, WhatIsSignedNamesTheQueryItAnswers) {
    EXPECT_EQ(SignatureUrl("https://u.example/a/filelist?product=1&version=2"),
              "https://u.example/a/filelist.sig?product=1&version=2");
    EXPECT_EQ(SignatureUrl("https://u.example/products/XSE/KA2/1.json"),
              "https://u.example/products/XSE/KA2/1.json.sig");
    EXPECT_EQ(ProductDocumentMessage("https://u.example/base/products/P3D/KB1/2.json", "[]"),
              "ZAVR product document\nP3D/KB1/2\n[]");
    EXPECT_EQ(ProductDocumentMessage("P3D/KB1/2.json", "[]"), "ZAVR product document\nP3D/KB1/2\n[]");
    EXPECT_EQ(FileListMessage(1001, -5, 7, "[]"), "ZAVR file list 2\nproduct=1001\nversion=-5\ntarget=7\n[]");
}

}  // namespace
}  // namespace zavr
