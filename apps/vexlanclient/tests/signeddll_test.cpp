#include "vexlanclient/signeddll.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base64.h"
#include "base/exception.h"
#include "base/file.h"
#include "sandbox.h"
#include "tls/rsa.h"

using tessel::String;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

String text(const std::string& s) { return String::copy(s); }

// A key pair made once for the executable, a small library and its record signed with it.
class SignedDllTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_private = new tessel::tls::RSA;
        ASSERT_TRUE(s_private->generate(2048));
        s_public = new tessel::tls::RSA;
        ASSERT_TRUE(s_public->loadKey(s_private->publicKeyPem(), "", true));
        s_other = new tessel::tls::RSA;
        ASSERT_TRUE(s_other->generate(2048));
    }
    static void TearDownTestSuite() {
        delete s_private;
        delete s_public;
        delete s_other;
    }

    void SetUp() override {
        m_library = m_dir.file("vpn_2_4_1.so");
        std::string bytes(3000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 5);
        writeFile(m_library, bytes);
    }

    // A record of the library signed with `key`.
    void signInto(SignedDll& record, tessel::ISign& key) {
        record.m_infos.m_version = "2.4.1";
        record.m_infos.m_name = "vpn";
        record.m_infos.m_signdate = "2024-05-06";
        ASSERT_TRUE(record.sign(key, text(m_library)));
    }

    // verify's result and its log entries.
    std::pair<bool, std::vector<std::string>> check(SignedDll& record,
                                                    const tessel::tls::RSA& key) {
        LogCapture capture;
        bool ok = record.verify(key, text(m_library));
        return {ok, capture.entries()};
    }

    static tessel::tls::RSA* s_private;
    static tessel::tls::RSA* s_public;
    static tessel::tls::RSA* s_other;
    TempDir m_dir;
    std::string m_library;
};

tessel::tls::RSA* SignedDllTest::s_private = nullptr;
tessel::tls::RSA* SignedDllTest::s_public = nullptr;
tessel::tls::RSA* SignedDllTest::s_other = nullptr;

const std::vector<std::string> kAccepted{};
const std::vector<std::string> kBadHash{"ERROR FileSignature.verify bad hash "};
const std::vector<std::string> kBadSignature{"ERROR FileSignature.verify bad signature"};

// One byte of a text changed (the first byte's lowest bit).
String flipped(const String& s, uint32_t at = 0) {
    std::string bytes = s.toStd();
    bytes[at] ^= 1;
    return String::copy(bytes);
}

}  // namespace

TEST_F(SignedDllTest, SignedMessageIsThePlainConcatenation) {
    SignedDll record;
    record.m_infos.m_version = "1.0";
    record.m_infos.m_name = "hc";
    record.m_infos.m_signdate = "d";
    record.m_infos.m_sha256 = "S=";
    record.m_signature = "ignored";
    EXPECT_EQ(record.signedMessage().toStd(), "1.0hcdS=");
    EXPECT_EQ(&record.m_signedPart, static_cast<tessel::ISerialize*>(&record.m_infos));
    EXPECT_EQ(SignedDll::hashFile(text(m_dir.file("absent"))).toStd(),
              "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");  // SHA-256 of nothing
}

TEST_F(SignedDllTest, TamperMatrix) {
    SignedDll good;
    signInto(good, *s_private);
    ASSERT_EQ(good.m_infos.m_sha256.length(), 44u);
    ASSERT_EQ(tessel::base64Decode(good.m_signature).length(), 256u);

    // A change to one field of a correctly signed record.
    struct Case {
        const char* what;
        void (*tamper)(SignedDll&);
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"untouched", [](SignedDll&) {}, kAccepted},
        {"version", [](SignedDll& r) { r.m_infos.m_version = flipped(r.m_infos.m_version); },
         kBadSignature},
        {"name", [](SignedDll& r) { r.m_infos.m_name = flipped(r.m_infos.m_name, 2); },
         kBadSignature},
        {"signdate", [](SignedDll& r) { r.m_infos.m_signdate = flipped(r.m_infos.m_signdate, 9); },
         kBadSignature},
        {"sha256", [](SignedDll& r) { r.m_infos.m_sha256 = flipped(r.m_infos.m_sha256, 10); },
         kBadHash},
        {"empty sha256", [](SignedDll& r) { r.m_infos.m_sha256 = ""; }, kBadHash},
        {"signature", [](SignedDll& r) { r.m_signature = flipped(r.m_signature, 100); },
         kBadSignature},
        {"signature cut by one group",
         [](SignedDll& r) { r.m_signature = r.m_signature.substring(4); }, kBadSignature},
        {"signature one group longer",
         [](SignedDll& r) { r.m_signature = "AAAA" + r.m_signature; }, kBadSignature},
        {"signature empty", [](SignedDll& r) { r.m_signature = ""; }, kBadSignature},
        {"signature outside the alphabet",
         [](SignedDll& r) { r.m_signature = String("*") + r.m_signature.substring(1); },
         kBadSignature},
        {"signature split over lines and indented",
         [](SignedDll& r) {
             String s = r.m_signature;
             r.m_signature = "\n    " + s.substring(0, 64) + "\r\n    " + s.substring(64, 100) +
                             "\n\t" + s.substring(164) + "\n  ";
         },
         kAccepted},
    };
    for (const Case& c : cases) {
        SignedDll record;
        record.m_infos.m_version = good.m_infos.m_version;
        record.m_infos.m_name = good.m_infos.m_name;
        record.m_infos.m_signdate = good.m_infos.m_signdate;
        record.m_infos.m_sha256 = good.m_infos.m_sha256;
        record.m_signature = good.m_signature;
        c.tamper(record);
        auto [ok, log] = check(record, *s_public);
        EXPECT_EQ(ok, c.log.empty()) << c.what;
        EXPECT_EQ(log, c.log) << c.what;
    }
}

TEST_F(SignedDllTest, LibraryChangesAndOtherKeys) {
    SignedDll record;
    signInto(record, *s_private);
    EXPECT_EQ(check(record, *s_public), std::make_pair(true, kAccepted));

    // Signed by another key: the hash matches, the signature does not.
    SignedDll foreign;
    signInto(foreign, *s_other);
    EXPECT_EQ(check(foreign, *s_public), std::make_pair(false, kBadSignature));

    // One byte of the library changed, one byte added, the library gone.
    std::string bytes = readFile(m_library);
    bytes[1500] ^= 0x80;
    writeFile(m_library, bytes);
    EXPECT_EQ(check(record, *s_public), std::make_pair(false, kBadHash));
    bytes[1500] ^= 0x80;
    writeFile(m_library, bytes + "x");
    EXPECT_EQ(check(record, *s_public), std::make_pair(false, kBadHash));
    tessel::deleteFile(text(m_library));
    EXPECT_EQ(check(record, *s_public), std::make_pair(false, kBadHash));
}

TEST_F(SignedDllTest, AKeyThatDidNotLoadRefuses) {
    SignedDll record;
    signInto(record, *s_private);
    tessel::tls::RSA broken;
    EXPECT_FALSE(broken.loadKey("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", "",
                                true));
    EXPECT_EQ(check(record, broken), std::make_pair(false, kBadSignature));

    // A public key cannot sign: the record keeps no signature.
    SignedDll unsigned_;
    EXPECT_FALSE(unsigned_.sign(*s_public, text(m_library)));
    EXPECT_TRUE(unsigned_.m_signature.isEmpty());
}

TEST_F(SignedDllTest, SequentialFormRoundTrip) {
    SignedDll record;
    signInto(record, *s_private);
    std::string path = m_dir.file("record.bin");
    {
        tessel::File out;
        ASSERT_TRUE(out.open(text(path), tessel::File::kWrite));
        out.write(record);
    }
    SignedDll back;
    {
        tessel::File in;
        ASSERT_TRUE(in.open(text(path), tessel::File::kRead));
        in.read(back);
        EXPECT_EQ(in.available(), 0);
    }
    EXPECT_EQ(back.m_infos.m_version, record.m_infos.m_version);
    EXPECT_EQ(back.m_infos.m_name, record.m_infos.m_name);
    EXPECT_EQ(back.m_infos.m_signdate, record.m_infos.m_signdate);
    EXPECT_EQ(back.m_infos.m_sha256, record.m_infos.m_sha256);
    EXPECT_EQ(back.m_signature, record.m_signature);
    EXPECT_EQ(check(back, *s_public), std::make_pair(true, kAccepted));
}

