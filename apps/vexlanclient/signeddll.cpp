#include "vexlanclient/signeddll.h"

#include "base/base64.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/stringwriter.h"
#include "tls/evpdigest.h"
#include "tls/rsa.h"
#include "vexlanclient/readahead.h"

#include "xml/keyreader.h"

using tessel::String;

namespace {

const char* const kInfoKeys[] = {"version", "name", "signdate", "sha256"};

}  // namespace

void DllInfos::read(tessel::IKeyReader& reader) {
    String* fields[] = {&m_version, &m_name, &m_signdate, &m_sha256};
    for (int i = 0; i < 4; ++i)
        reader.getKey(kInfoKeys[i])->read(*fields[i]);
}

void DllInfos::read(tessel::IReader& reader) {
    reader.read(m_version);
    reader.read(m_name);
    reader.read(m_signdate);
    reader.read(m_sha256);
}

void DllInfos::write(tessel::IKeyWriter& writer) {
    const String* fields[] = {&m_version, &m_name, &m_signdate, &m_sha256};
    for (int i = 0; i < 4; ++i)
        writer.writeKey(kInfoKeys[i])->write(*fields[i]);
}

void DllInfos::write(tessel::IWriter& writer) {
    writer.write(m_version);
    writer.write(m_name);
    writer.write(m_signdate);
    writer.write(m_sha256);
}

SignedDll::SignedDll() : m_signedPart(m_infos) {}

void SignedDll::read(tessel::IKeyReader& reader) {
    reader.read(m_infos);
    reader.getKey("signature")->read(m_signature);
}

void SignedDll::read(tessel::IReader& reader) {
    reader.read(m_infos);
    reader.read(m_signature);
}

void SignedDll::write(tessel::IKeyWriter& writer) {
    writer.write(m_infos);
    writer.writeKey("signature")->write(m_signature);
}

void SignedDll::write(tessel::IWriter& writer) {
    writer.write(m_infos);
    writer.write(m_signature);
}

void SignedDll::loadFromFile(const String& path) {
    if (!tessel::isFile(path)) {
        tessel::log(2, "SignedDll", "loadFromFile", "Missing signature file: " + path);
        TESSEL_THROW(tessel::EBadSignature);
    }
    String problem;
    try {
        tessel::xml::ParserReader document(path);
        read(*document.getKey("dll"));
        return;
    } catch (const tessel::EFile&) {
        problem = "Cannot open dll signature " + path;
    } catch (const tessel::EKeyReader&) {
        problem = "Error while parsing signature";
    } catch (const tessel::xml::EParserReader&) {
        problem = "Error while parsing signature";
    } catch (...) {
        problem = "Unhandled exception while parsing signature";
    }
    tessel::log(2, "SignedDll", "loadFromFile", problem);
    TESSEL_THROW(tessel::EBadSignature);
}

String SignedDll::hashFile(const String& dllPath) {
    tessel::File file;
    file.open(dllPath, tessel::File::kRead);  // unopened, it has nothing available
    ReadAheadReader reader(file);
    tessel::tls::EVPDigest sha256("sha256");
    return tessel::base64Encode(sha256.digestAll(reader));
}

String SignedDll::signedMessage() {
    String message;
    tessel::StringWriter writer(message);
    writer.write(m_signedPart);
    return message;
}

bool SignedDll::verify(const tessel::tls::RSA& key, const String& dllPath) {
    if (hashFile(dllPath) != m_infos.m_sha256) {
        tessel::log(2, "FileSignature", "verify", "bad hash ");
        return false;
    }
    String message = signedMessage();
    // Characters outside the Base64 alphabet are not reported here: they only make the
    // decoded bytes fail the check.
    tessel::Buffer signature = tessel::base64Decode(m_signature);
    if (key.verifySignature(message.data(), static_cast<int>(message.length()), signature)) {
        return true;
    }
    tessel::log(2, "FileSignature", "verify", "bad signature");
    return false;
}

bool SignedDll::sign(tessel::ISign& key, const String& dllPath) {
    m_infos.m_sha256 = hashFile(dllPath);
    m_signature = String();
    tessel::Buffer signature = key.sign(tessel::Buffer::fromString(signedMessage()));
    if (signature.isEmpty())
        return false;
    m_signature = tessel::base64Encode(signature);
    return true;
}

namespace {

// Loads the record at sigPath into `record` and checks it against the library and the key.
void loadAndVerify(const String& dllPath, const String& sigPath, const String& publicKeyPem,
                   SignedDll& record) {
    tessel::tls::RSA key;
    bool keyLoaded = key.loadKey(publicKeyPem, "", true);
    record.loadFromFile(sigPath);
    // A key that does not load (a broken build) refuses everything; it is reported apart so
    // that nobody looks for the fault in the component.
    if (!keyLoaded) {
        tessel::log(2, "VexlanClient", "verifyDllSignature",
                    "Cannot read the component verification key");
    }
    if (!keyLoaded || !record.verify(key, dllPath)) {
        tessel::log(2, "VexlanClient", "verifyDllSignature", "Bad dll signature for " + dllPath);
        TESSEL_THROW(tessel::EBadSignature);
    }
}

// One difference for the mismatch line: what "signed" instead of "expected".
String difference(const char* what, const String& signedText, const String& expected) {
    return String(what) + " \"" + signedText + "\" instead of \"" + expected + "\"";
}

}  // namespace

void verifyComponentSignature(const String& dllPath, const String& sigPath,
                              const String& publicKeyPem) {
    SignedDll record;
    loadAndVerify(dllPath, sigPath, publicKeyPem, record);
}

void verifyComponentSignature(const String& dllPath, const String& sigPath,
                              const String& publicKeyPem, const ComponentIdentity& expected) {
    SignedDll record;
    loadAndVerify(dllPath, sigPath, publicKeyPem, record);
    // The signature vouches for the library's bytes and its signed texts, nothing else: the
    // texts are what tie it to the record it was placed for.
    String differences;
    if (record.m_infos.m_version != expected.version) {
        differences = difference("version", record.m_infos.m_version, expected.version);
    }
    if (record.m_infos.m_name != expected.name) {
        if (!differences.isEmpty())
            differences = differences + ", ";
        differences = differences + difference("name", record.m_infos.m_name, expected.name);
    }
    if (differences.isEmpty())
        return;
    tessel::log(2, "VexlanClient", "verifyDllSignature",
                "Signed component does not match its record for " + dllPath + ": " + differences);
    TESSEL_THROW(tessel::EBadSignature);
}
