#include "server/md5.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fcntl.h>

#include "server/downloader.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

std::string Hex(const std::string& text) {
    return Md5Hex(reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<std::uint32_t>(text.size()));
}

TEST(Md5Test, MatchesTheRfcTestSuite) {
    EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i) digits += "1234567890";
    EXPECT_EQ(Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, PaddingAndBlockBoundaries) {
    EXPECT_EQ(Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5Test, PiecesGiveTheSameDigestAsOneUpdate) {
    const std::string input(1000000, 'a');
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 4096u, 99999u}) {
        Md5Digest digest;
        for (std::size_t at = 0; at < input.size(); at += piece) {
            const std::size_t length = std::min(piece, input.size() - at);
            digest.Update(reinterpret_cast<const unsigned char*>(input.data() + at),
                          static_cast<std::uint32_t>(length));
        }
        digest.Finalize();
        EXPECT_EQ(digest.HexDigest(), "7707d6ae4e027c70eea2a935c2296f21") << piece;
    }
}

TEST(Md5Test, HexDigestOnlyAfterFinalizeWhichHappensOnce) {
    Md5Digest digest;
    digest.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(digest.HexDigest(), "");
    digest.Finalize();
    digest.Finalize();
    digest.Update(reinterpret_cast<const unsigned char*>("more"), 4);
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(FileDigestTest, MatchesOnlyTheExactLowerCaseText) {
    test::TempDir dir;
    test::WriteFile(dir / "abc", "abc");
    test::WriteFile(dir / "empty", "");
    const Downloader downloader;
    EXPECT_TRUE(downloader.FileDigestMatches(dir / "abc", "900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_TRUE(downloader.FileDigestMatches(dir / "empty", "d41d8cd98f00b204e9800998ecf8427e"));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(downloader.FileDigestMatches(dir / "abc", "900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_FALSE(downloader.FileDigestMatches(dir / "abc", " 900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_FALSE(downloader.FileDigestMatches(dir / "abc", ""));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "a mismatch is a detail line only";
}

TEST(FileDigestTest, AnUnreadableFileIsNeverHashedAsEmpty) {
    test::TempDir dir;
    const Downloader downloader;
    const std::string empty = "d41d8cd98f00b204e9800998ecf8427e";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(downloader.FileDigestMatches(dir / "absent", empty));
    EXPECT_FALSE(downloader.FileDigestMatches(dir.Path(), empty)) << "a folder is no file to open";
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("[ZAVR 2] I was unable to open " + dir / "absent" + " to check its integrity.\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("[ZAVR 2] I was unable to open " + dir.Path() + " to check its integrity.\n"),
              std::string::npos)
        << console;
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(FileDigestTest, AFileOfFiveGibibytesInFlatMemory) {
    test::TempDir dir;
    const std::string path = dir / "sparse";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{5} << 30), 0);
    ::close(fd);
    const long before = PeakResidentKiB();
    EXPECT_TRUE(Downloader().FileDigestMatches(path, "ec4bcc8776ea04479b786e063a9ace45"));
    EXPECT_LT(PeakResidentKiB() - before, 16 * 1024) << "peak memory grew with the file";
}

}  // namespace
}  // namespace zavr
