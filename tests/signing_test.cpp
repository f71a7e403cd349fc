// Signed images, with osslsigncode and a certificate made here by openssl: an import keeps the
// certificate table but the signature no longer matches, which it says; the translated image
// signs again; --unsign leaves what osslsigncode's remove-signature leaves.
#include <gtest/gtest.h>

#include <string>

#include "pe_builder.h"
#include "shell.h"

namespace quelvar {
namespace {

using test::Bytes;

using test::ShellRun;

// Runs a command in `dir`, keeping its standard output and error; "$Q" names quelvar-cli.
ShellRun Shell(const std::string& command, const test::TempDir& dir) {
    return test::RunShell(dir.path, command, test::ShellOutput::WithErrors);
}

bool Has(const ShellRun& run, const char* text) {
    return run.err.find(text) != std::string::npos;
}

class Signing : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"osslsigncode", "openssl"})
            if (std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) != 0)
                GTEST_SKIP() << "no " << tool;
        if (test::SampleImageDir().empty())
            GTEST_SKIP() << "built without mingw-w64";
        ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                        "-subj '/CN=Quelvar test' -days 2",
                        dir)
                      .status,
                  0);
    }
    ShellRun Sign(const std::string& in, const std::string& out) {
        return Shell("rm -f " + out + " && osslsigncode sign -certs cert.pem -key key.pem -in " +
                         in + " -out " + out,
                     dir);
    }
    ShellRun Verify(const std::string& image) {
        return Shell("osslsigncode verify -CAfile cert.pem " + image, dir);
    }
    test::TempDir dir;
};

TEST_F(Signing, ImportSaysTheSignatureBreaksAndUnsignRemovesIt) {
    // Resources last, relocations after them, symbols after the last section; 32 and 64 bits.
    for (const char* sample : {"basic32.exe", "basic64reloc.exe", "basic32debug.exe"}) {
        SCOPED_TRACE(sample);
        std::filesystem::copy_file(test::SampleImageDir() / sample, dir / "app.exe",
                                   std::filesystem::copy_options::overwrite_existing);
        test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n"));
        ASSERT_EQ(Sign("app.exe", "signed.exe").status, 0);
        ASSERT_EQ(Verify("signed.exe").status, 0);

        ShellRun kept = Shell("\"$Q\" import signed.exe de.lng -o kept.exe --language 1033", dir);
        ASSERT_EQ(kept.status, 0) << kept.err;
        EXPECT_TRUE(Has(kept, "the image is signed and its signature no longer matches"))
            << kept.err;
        ShellRun broken = Verify("kept.exe");
        EXPECT_NE(broken.status, 0);
        EXPECT_TRUE(Has(broken, "MISMATCH")) << broken.err;
        // Signed again as the README says, it verifies.
        ASSERT_EQ(Sign("kept.exe", "resigned.exe").status, 0);
        EXPECT_EQ(Verify("resigned.exe").status, 0);

        ShellRun gone =
            Shell("\"$Q\" import signed.exe de.lng -o gone.exe --language 1033 --unsign", dir);
        ASSERT_EQ(gone.status, 0) << gone.err;
        EXPECT_TRUE(Has(gone, "the image's signature was removed")) << gone.err;
        EXPECT_TRUE(Has(Verify("gone.exe"), "No signature found"));
        ASSERT_EQ(
            Shell(
                "rm -f removed.exe && osslsigncode remove-signature -in kept.exe -out removed.exe",
                dir)
                .status,
            0);
        EXPECT_EQ(test::ReadFileBytes(dir / "gone.exe"), test::ReadFileBytes(dir / "removed.exe"));
        // The same image as the translation of the image before it was signed, unless signing
        // padded the image to 8 bytes (symbols at its end): those zeros stay.
        ShellRun plain = Shell("\"$Q\" import app.exe de.lng -o plain.exe --language 1033", dir);
        ASSERT_EQ(plain.status, 0);
        EXPECT_FALSE(Has(plain, "sign")) << plain.err;
        if (std::filesystem::file_size(dir / "app.exe") % 8 == 0) {
            EXPECT_EQ(test::ReadFileBytes(dir / "gone.exe"),
                      test::ReadFileBytes(dir / "plain.exe"));
        }
    }
}

}  // namespace
}  // namespace quelvar
