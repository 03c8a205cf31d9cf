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

String text(const std::string& s) {
    return String::copy(s);
}

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
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 13 + 5);
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

// A Base64 text with the letter at `at` replaced by another letter of the alphabet. (A flipped
// bit may leave the alphabet, and the decoder reads a byte outside it as "A": an "A" turned
// into "@" would decode to the same signature.)
String otherLetter(const String& s, uint32_t at) {
    std::string bytes = s.toStd();
    bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
    return String::copy(bytes);
}

// The text with `c` in place of its first letter that is not "A", which `c` would decode as.
String outsideTheAlphabet(const String& s, char c) {
    std::string bytes = s.toStd();
    bytes[bytes.find_first_not_of('A')] = c;
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
        {"signature", [](SignedDll& r) { r.m_signature = otherLetter(r.m_signature, 100); },
         kBadSignature},
        {"signature cut by one group",
         [](SignedDll& r) { r.m_signature = r.m_signature.substring(4); }, kBadSignature},
        {"signature one group longer", [](SignedDll& r) { r.m_signature = "AAAA" + r.m_signature; },
         kBadSignature},
        {"signature empty", [](SignedDll& r) { r.m_signature = ""; }, kBadSignature},
        {"signature outside the alphabet",
         [](SignedDll& r) { r.m_signature = outsideTheAlphabet(r.m_signature, '*'); },
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
    EXPECT_FALSE(
        broken.loadKey("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", "", true));
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

namespace {

using Elements = std::vector<std::pair<std::string, std::string>>;

// The five elements of a signed record, in the order the publisher's tool writes them.
Elements elementsOf(const SignedDll& r) {
    return {{"version", r.m_infos.m_version.toStd()},
            {"name", r.m_infos.m_name.toStd()},
            {"signdate", r.m_infos.m_signdate.toStd()},
            {"sha256", r.m_infos.m_sha256.toStd()},
            {"signature", r.m_signature.toStd()}};
}

std::string document(const Elements& elements, const std::string& root = "dll") {
    std::string xml = "<" + root + ">\r\n";
    for (const auto& [key, value] : elements)
        xml += " <" + key + ">" + value + "</" + key + ">\r\n";
    return xml + "</" + root + ">";
}

Elements without(Elements elements, const std::string& key) {
    for (auto it = elements.begin(); it != elements.end(); ++it) {
        if (it->first == key) {
            elements.erase(it);
            break;
        }
    }
    return elements;
}

Elements changed(Elements elements, const std::string& key, size_t at) {
    for (auto& [k, v] : elements) {
        if (k == key)
            v[at] = static_cast<char>(v[at] == 'A' ? 'B' : 'A');
    }
    return elements;
}

}  // namespace

class ComponentSignatureTest : public SignedDllTest {
protected:
    void SetUp() override {
        SignedDllTest::SetUp();
        signInto(m_record, *s_private);
        m_sig = m_library + ".sig";
        m_pem = s_private->publicKeyPem();
    }

    // verifyComponentSignature's log entries; empty when it accepted.
    std::vector<std::string> verifyWith(const std::string& sigContent, const String& pem) {
        writeFile(m_sig, sigContent);
        return verifyFile(pem);
    }
    std::vector<std::string> verifyFile(const String& pem) {
        LogCapture capture;
        try {
            verifyComponentSignature(text(m_library), text(m_sig), pem);
            EXPECT_TRUE(capture.entries().empty());
            return {};
        } catch (const tessel::EBadSignature&) {
            // The lines of the signature check (the XML parser may add its own before them).
            std::vector<std::string> entries;
            for (const std::string& e : capture.entries()) {
                if (e.rfind("ERROR SignedDll.", 0) == 0 ||
                    e.rfind("ERROR FileSignature.", 0) == 0 ||
                    e.rfind("ERROR VexlanClient.", 0) == 0) {
                    entries.push_back(e);
                }
            }
            EXPECT_FALSE(entries.empty());
            return entries;
        }
    }
    std::vector<std::string> refused(const std::string& first) {
        return {first, "ERROR VexlanClient.verifyDllSignature Bad dll signature for " + m_library};
    }
    std::vector<std::string> loadError(const std::string& text) {
        return {"ERROR SignedDll.loadFromFile " + text};
    }

    SignedDll m_record;
    std::string m_sig;
    String m_pem;
};

TEST_F(ComponentSignatureTest, TamperMatrixThroughTheSignatureFile) {
    const Elements good = elementsOf(m_record);
    const auto badHash = refused("ERROR FileSignature.verify bad hash ");
    const auto badSignature = refused("ERROR FileSignature.verify bad signature");
    const auto parsing = loadError("Error while parsing signature");
    const auto unhandled = loadError("Unhandled exception while parsing signature");

    std::string split = m_record.m_signature.toStd();
    split = "\n      " + split.substr(0, 76) + "\n      " + split.substr(76, 76) + "\r\n\t" +
            split.substr(152) + "\n    ";
    Elements reordered = {good[4], good[3], good[1], good[0], good[2]};

    struct Case {
        const char* what;
        std::string sig;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"untouched", document(good), {}},
        {"root in capitals", document(good, "DLL"), {}},
        {"elements in another order", document(reordered), {}},
        {"signature split over lines and indented",
         document({good[0], good[1], good[2], good[3], {"signature", split}}),
         {}},
        {"version changed", document(changed(good, "version", 0)), badSignature},
        {"name changed", document(changed(good, "name", 1)), badSignature},
        {"signdate changed", document(changed(good, "signdate", 5)), badSignature},
        {"sha256 changed", document(changed(good, "sha256", 20)), badHash},
        {"signature changed", document(changed(good, "signature", 200)), badSignature},
        {"other root", document(good, "signature"), parsing},
        {"version missing", document(without(good, "version")), parsing},
        {"name missing", document(without(good, "name")), parsing},
        {"signdate missing", document(without(good, "signdate")), parsing},
        {"sha256 missing", document(without(good, "sha256")), parsing},
        {"signature missing", document(without(good, "signature")), parsing},
        {"not well-formed", document(good).substr(0, 60), unhandled},
        {"not XML", "sha256=abc", unhandled},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(verifyWith(c.sig, m_pem), c.log) << c.what;
    }
}

TEST_F(ComponentSignatureTest, MissingFilesAndKeys) {
    // The library changed by one byte, then gone: the hash check refuses, never a file error.
    writeFile(m_sig, document(elementsOf(m_record)));
    std::string bytes = readFile(m_library);
    bytes[0] ^= 1;
    writeFile(m_library, bytes);
    EXPECT_EQ(verifyFile(m_pem), refused("ERROR FileSignature.verify bad hash "));
    tessel::deleteFile(text(m_library));
    EXPECT_EQ(verifyFile(m_pem), refused("ERROR FileSignature.verify bad hash "));

    // No signature file.
    SetUp();
    tessel::deleteFile(text(m_sig));
    EXPECT_EQ(verifyFile(m_pem), loadError("Missing signature file: " + m_sig));

    // Signed with another key; then a key that cannot be read refuses even a good pair.
    writeFile(m_sig, document(elementsOf(m_record)));
    EXPECT_EQ(verifyFile(s_other->publicKeyPem()),
              refused("ERROR FileSignature.verify bad signature"));
    for (const String& broken :
         {String(""), String("-----BEGIN PUBLIC KEY-----\nAAAA\n"), s_private->privateKeyPem()}) {
        EXPECT_EQ(verifyFile(broken),
                  refused("ERROR VexlanClient.verifyDllSignature Cannot read the component "
                          "verification key"));
    }
}

TEST_F(ComponentSignatureTest, SignedNameAndVersionMustBeTheRecords) {
    // The record's signature is genuine ("vpn" 2.4.1); only the expectation changes.
    writeFile(m_sig, document(elementsOf(m_record)));
    const std::string mismatch =
        "ERROR VexlanClient.verifyDllSignature Signed component does not match its record for " +
        m_library + ": ";
    const struct {
        const char* name;
        const char* version;
        std::string log;  // empty: accepted
    } cases[] = {
        {"vpn", "2.4.1", ""},
        {"vpn", "2.5", mismatch + "version \"2.4.1\" instead of \"2.5\""},
        {"vpn", "2.4.1 ", mismatch + "version \"2.4.1\" instead of \"2.4.1 \""},
        {"vpn", "", mismatch + "version \"2.4.1\" instead of \"\""},
        {"launcher", "2.4.1", mismatch + "name \"vpn\" instead of \"launcher\""},
        {"VPN", "2.4.1", mismatch + "name \"vpn\" instead of \"VPN\""},
        {"hostchecker.so", "1.0.0",
         mismatch + "version \"2.4.1\" instead of \"1.0.0\", name \"vpn\" instead of "
                    "\"hostchecker.so\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.version);
        LogCapture capture;
        ComponentIdentity expected{text(c.name), text(c.version)};
        if (c.log.empty()) {
            EXPECT_NO_THROW(
                verifyComponentSignature(text(m_library), text(m_sig), m_pem, expected));
            EXPECT_TRUE(capture.entries().empty());
        } else {
            EXPECT_THROW(verifyComponentSignature(text(m_library), text(m_sig), m_pem, expected),
                         tessel::EBadSignature);
            EXPECT_EQ(std::vector<std::string>{c.log}, capture.entries());
        }
    }
    // A bad signature is refused as such first, whatever the record says.
    writeFile(m_sig, document(changed(elementsOf(m_record), "signature", 200)));
    LogCapture capture;
    EXPECT_THROW(verifyComponentSignature(text(m_library), text(m_sig), m_pem,
                                          ComponentIdentity{"vpn", "2.4.1"}),
                 tessel::EBadSignature);
    EXPECT_EQ(refused("ERROR FileSignature.verify bad signature"), capture.entries());
}
