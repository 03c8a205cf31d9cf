// vexlan-sign: the component publisher's tool. It makes the RSA key pair that components are
// signed with, writes a library's signature file, checks a library against its signature
// file with the client's own verification, and packs a library and its signature file into
// the ZIP archive that the gateway publishes.
//
// Exit codes: 0 done (verify: accepted), 1 refused by verify, 64 usage error, 65 unusable key
// or data, 66 missing input, 73 output cannot be created, 70 internal failure.
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/stringwriter.h"
#include "tls/rsa.h"
#include "vexlan-sign/keyfile.h"
#include "vexlanclient/componentfetch.h"
#include "vexlanclient/signeddll.h"
#include "xml/writerkeywriter.h"
#include "zlib/zipwriter.h"

using tessel::String;

namespace {

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 64;
constexpr int kDataError = 65;
constexpr int kNoInput = 66;
constexpr int kSoftware = 70;
constexpr int kCannotCreate = 73;

// The component key size that the client expects (256-byte signatures).
constexpr int kKeyBits = 2048;

const char kMainHelp[] =
    "Usage: vexlan-sign COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Signs component libraries for Vexlan Client.\n"
    "\n"
    "Commands:\n"
    "  keygen   make a component signing key pair\n"
    "  sign     write LIBRARY.sig for a library\n"
    "  verify   check a library against LIBRARY.sig as the client does\n"
    "  pack     write a component archive holding a library and its signature file\n"
    "\n"
    "Run 'vexlan-sign COMMAND --help' for the options of a command.\n"
    "Exit codes: 0 done, 1 refused by verify, 64 usage error, 65 unusable key or data,\n"
    "66 missing input, 73 output cannot be created, 70 internal failure.\n";

const char kKeygenHelp[] =
    "Usage: vexlan-sign keygen [--force] PRIVATE.pem PUBLIC.pem\n"
    "\n"
    "Makes a 2048-bit RSA key pair: PRIVATE.pem (PKCS#8, unencrypted, readable by its owner\n"
    "only) and PUBLIC.pem (SubjectPublicKeyInfo), the key to build into the client with\n"
    "-DVEXLAN_COMPONENT_KEY=PUBLIC.pem.\n"
    "\n"
    "  --force   replace existing files (otherwise an existing file is an error)\n";

const char kSignHelp[] =
    "Usage: vexlan-sign sign --key PRIVATE.pem --version V --name N [--signdate D] LIBRARY\n"
    "\n"
    "Writes LIBRARY.sig: the library's SHA-256 and an RSA signature (PKCS#1 v1.5, SHA-1)\n"
    "over V, N, D and that digest, made with the private key.\n"
    "\n"
    "  --key PRIVATE.pem  the private half of the client's component key (2048-bit RSA)\n"
    "  --version V        the component version\n"
    "  --name N           the component name\n"
    "  --signdate D       the signing date (default: today's UTC date, YYYY-MM-DD)\n"
    "\n"
    "The client reads these texts back literally: they must not be empty, contain \"<\",\n"
    "\">\", \"&\" or control characters, or begin or end with white space.\n";

const char kVerifyHelp[] =
    "Usage: vexlan-sign verify --public PUBLIC.pem LIBRARY\n"
    "\n"
    "Checks LIBRARY against LIBRARY.sig with the client's own verification: the library's\n"
    "SHA-256 must be the recorded one and the signature must verify with PUBLIC.pem.\n"
    "Exit 0 when the client would accept the library, 1 (with the reason) when it would\n"
    "refuse it. The client's diagnostic lines appear on standard output.\n";

const char kPackHelp[] =
    "Usage: vexlan-sign pack --key PRIVATE.pem --pattern P --version V --out ARCHIVE.zip\n"
    "                        [--name N] [--signdate D] LIBRARY\n"
    "\n"
    "Signs LIBRARY (as 'sign' does) and writes ARCHIVE.zip holding the library as P and its\n"
    "signature file as P.sig, then prints the archive's MD5 (32 lowercase hexadecimal\n"
    "digits) for the gateway's component record.\n"
    "\n"
    "  --key PRIVATE.pem  the private half of the client's component key\n"
    "  --pattern P        the library's name in the archive (the record's pattern)\n"
    "  --version V        the component version\n"
    "  --out ARCHIVE.zip  the archive to write (replaced when it exists)\n"
    "  --name N           the component name (default: P)\n"
    "  --signdate D       the signing date (default: today's UTC date, YYYY-MM-DD)\n";

// Ends the command with an exit code and a message for standard error.
struct Failure {
    int code;
    std::string message;
    const char* help;  // usage errors point at the command's help
};

[[noreturn]] void fail(int code, const std::string& message, const char* help = nullptr) {
    throw Failure{code, message, help};
}

String text(const std::string& s) {
    return String::copy(s);
}

// Options and operands of one command.
struct Arguments {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> operands;
    bool help = false;

    bool has(const std::string& option) const { return values.count(option) != 0; }
    std::string value(const std::string& option) const {
        auto it = values.find(option);
        return it == values.end() ? std::string() : it->second;
    }
};

Arguments parse(const std::vector<std::string>& args, const std::set<std::string>& valued,
                const std::set<std::string>& flags, const char* help) {
    Arguments out;
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            out.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help") {
            out.help = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (flags.count(name)) {
            if (inlineValue)
                fail(kUsage, name + " takes no value", help);
            out.flags.insert(name);
        } else if (valued.count(name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    fail(kUsage, name + " needs a value", help);
                value = args[++i];
            }
            if (out.has(name))
                fail(kUsage, name + " given twice", help);
            out.values[name] = value;
        } else {
            fail(kUsage, "unknown option " + name, help);
        }
    }
    return out;
}

void requireOptions(const Arguments& args, std::initializer_list<const char*> names,
                    const char* help) {
    for (const char* name : names) {
        if (!args.has(name))
            fail(kUsage, std::string("missing ") + name, help);
    }
}

void requireOperands(const Arguments& args, size_t count, const char* what, const char* help) {
    if (args.operands.size() < count)
        fail(kUsage, std::string("missing ") + what, help);
    if (args.operands.size() > count) {
        fail(kUsage, "unexpected argument " + args.operands[count], help);
    }
}

// A text that is signed and then read back from the XML document exactly as written.
void checkSignedText(const std::string& option, const std::string& value, const char* help) {
    if (value.empty())
        fail(kUsage, option + " must not be empty", help);
    if (value.find_first_of("<>&") != std::string::npos) {
        fail(kUsage,
             option +
                 " must not contain '<', '>' or '&': the client reads signed texts back "
                 "literally",
             help);
    }
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            fail(kUsage, option + " must not contain control characters", help);
    }
    if (value.front() == ' ' || value.back() == ' ') {
        fail(kUsage, option + " must not begin or end with a blank: the client trims it", help);
    }
}

// A plain file name, usable as an entry of the archive and a file in the component folder.
void checkPattern(const std::string& pattern, const char* help) {
    if (pattern.empty() || pattern == "." || pattern == ".." ||
        pattern.find_first_of("/\\") != std::string::npos || pattern.find(':') == 1) {
        fail(kUsage, "--pattern must be a plain file name", help);
    }
    checkSignedText("--pattern", pattern, help);
}

std::string todayUtc() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (std::tm* t = std::gmtime(&now))
        utc = *t;
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &utc);
    return date;
}

void requireFile(const std::string& path, const char* what) {
    if (!tessel::isFile(text(path)))
        fail(kNoInput, std::string("no ") + what + " " + path);
}

String readText(const std::string& path, const char* what) {
    requireFile(path, what);
    try {
        return tessel::readAllFile(text(path));
    } catch (const tessel::EFile&) {
        fail(kNoInput, std::string("cannot read ") + what + " " + path);
    }
}

// The private component key at `path`, with the size the client expects.
void loadPrivateKey(tessel::tls::RSA& key, const std::string& path) {
    String pem = readText(path, "key file");
    if (!key.loadKey(pem, "", false)) {
        fail(kDataError, path + " is not an unencrypted RSA private key in PEM form");
    }
    if (key.bits() != kKeyBits) {
        fail(kDataError, path + " is a " + std::to_string(key.bits()) +
                             "-bit key; the client verifies 2048-bit signatures only");
    }
}

void removeQuietly(const std::string& path) {
    try {
        tessel::deleteFile(text(path));
    } catch (const tessel::EFile&) {
        // Nothing there, or nothing to be done about it.
    }
}

// Writes `content` to `path` through a temporary file in the same folder. Signature files
// and archives are published: readable by others, unlike what the client writes.
void writeOutput(const std::string& path, const String& content) {
    std::string temporary = path + ".tmp";
    {
        tessel::File out;
        if (!out.open(text(temporary), tessel::File::kWrite | tessel::File::kShared)) {
            fail(kCannotCreate, "cannot create " + temporary);
        }
        try {
            out.write(content.data(), static_cast<int>(content.length()));
            out.sync();
        } catch (const tessel::EFile&) {
            out.close();
            removeQuietly(temporary);
            fail(kCannotCreate, "cannot write " + temporary);
        }
    }
    try {
        tessel::moveFile(text(temporary), text(path));
    } catch (const tessel::EFile&) {
        fail(kCannotCreate, "cannot create " + path);
    }
}

// The signature file of `library` as the client reads it.
String signatureDocument(tessel::tls::RSA& key, const std::string& library,
                         const std::string& version, const std::string& name,
                         const std::string& signdate) {
    SignedDll record;
    record.m_infos.m_version = text(version);
    record.m_infos.m_name = text(name);
    record.m_infos.m_signdate = text(signdate);
    if (!record.sign(key, text(library)))
        fail(kDataError, "the key cannot sign");

    String document;
    tessel::StringWriter output(document);
    {
        // Texts were checked: they need no escaping, and the client decodes none.
        tessel::xml::WriterKeyWriter writer(output, "", false);
        writer.writeKey("dll")->write(record);
        writer.finish();
    }
    return document;
}

// Reads the signature file back and checks it as the client will, with the key's public half.
void selfCheck(tessel::tls::RSA& key, const std::string& library, const std::string& sig) {
    tessel::tls::RSA publicHalf;
    if (!publicHalf.loadKey(key.publicKeyPem(), "", true)) {
        fail(kSoftware, "cannot derive the public key");
    }
    try {
        verifyComponentSignature(text(library), text(sig), publicHalf.publicKeyPem());
    } catch (const tessel::EBadSignature&) {
        fail(kSoftware, "the signature just written does not verify: " + sig);
    }
}

int keygen(const std::vector<std::string>& argv) {
    Arguments args = parse(argv, {}, {"--force"}, kKeygenHelp);
    if (args.help) {
        std::fputs(kKeygenHelp, stdout);
        return kOk;
    }
    requireOperands(args, 2, "PRIVATE.pem and PUBLIC.pem", kKeygenHelp);
    const std::string& privatePath = args.operands[0];
    const std::string& publicPath = args.operands[1];
    bool force = args.flags.count("--force") != 0;
    if (privatePath == publicPath)
        fail(kUsage, "the two files must differ", kKeygenHelp);
    if (!force) {
        for (const std::string& path : {privatePath, publicPath}) {
            if (tessel::isFile(text(path)) || tessel::isDirectory(text(path))) {
                fail(kCannotCreate, path + " exists (use --force to replace it)");
            }
        }
    }

    tessel::tls::RSA key;
    if (!key.generate(kKeyBits))
        fail(kSoftware, "cannot generate a key");
    std::string error;
    if (!writePrivateFile(privatePath, key.privateKeyPem().toStd(), force, error)) {
        fail(kCannotCreate, "cannot create " + privatePath + ": " + error);
    }
    writeOutput(publicPath, key.publicKeyPem());
    return kOk;
}

int sign(const std::vector<std::string>& argv) {
    Arguments args = parse(argv, {"--key", "--version", "--name", "--signdate"}, {}, kSignHelp);
    if (args.help) {
        std::fputs(kSignHelp, stdout);
        return kOk;
    }
    requireOptions(args, {"--key", "--version", "--name"}, kSignHelp);
    requireOperands(args, 1, "LIBRARY", kSignHelp);
    std::string signdate = args.has("--signdate") ? args.value("--signdate") : todayUtc();
    checkSignedText("--version", args.value("--version"), kSignHelp);
    checkSignedText("--name", args.value("--name"), kSignHelp);
    checkSignedText("--signdate", signdate, kSignHelp);
    const std::string& library = args.operands[0];
    requireFile(library, "library");

    tessel::tls::RSA key;
    loadPrivateKey(key, args.value("--key"));
    std::string sig = library + ".sig";
    writeOutput(sig, signatureDocument(key, library, args.value("--version"), args.value("--name"),
                                       signdate));
    selfCheck(key, library, sig);
    return kOk;
}

int verify(const std::vector<std::string>& argv) {
    Arguments args = parse(argv, {"--public"}, {}, kVerifyHelp);
    if (args.help) {
        std::fputs(kVerifyHelp, stdout);
        return kOk;
    }
    requireOptions(args, {"--public"}, kVerifyHelp);
    requireOperands(args, 1, "LIBRARY", kVerifyHelp);
    const std::string& library = args.operands[0];
    const std::string publicPath = args.value("--public");
    String pem = readText(publicPath, "public key file");
    tessel::tls::RSA key;
    if (!key.loadKey(pem, "", true)) {
        fail(kDataError, publicPath + " is not an RSA public key in PEM form");
    }

    // The client's steps: read the signature file, then the hash and signature checks.
    std::string sig = library + ".sig";
    SignedDll record;
    try {
        record.loadFromFile(text(sig));
    } catch (const tessel::EBadSignature&) {
        fail(kRefused,
             library + ": refused: the signature file " + sig + " is missing or cannot be read");
    }
    if (!record.verify(key, text(library))) {
        bool hashMatches = SignedDll::hashFile(text(library)) == record.m_infos.m_sha256;
        fail(kRefused,
             library + ": refused: " +
                 (hashMatches ? "bad signature (not made with this key, or a signed text was "
                                "changed)"
                              : "bad hash (the library is missing or is not the one that was "
                                "signed)"));
    }
    std::printf("%s: accepted\n", library.c_str());
    return kOk;
}

int pack(const std::vector<std::string>& argv) {
    Arguments args = parse(
        argv, {"--key", "--pattern", "--version", "--out", "--name", "--signdate"}, {}, kPackHelp);
    if (args.help) {
        std::fputs(kPackHelp, stdout);
        return kOk;
    }
    requireOptions(args, {"--key", "--pattern", "--version", "--out"}, kPackHelp);
    requireOperands(args, 1, "LIBRARY", kPackHelp);
    std::string pattern = args.value("--pattern");
    checkPattern(pattern, kPackHelp);
    std::string name = args.has("--name") ? args.value("--name") : pattern;
    std::string signdate = args.has("--signdate") ? args.value("--signdate") : todayUtc();
    checkSignedText("--version", args.value("--version"), kPackHelp);
    checkSignedText("--name", name, kPackHelp);
    checkSignedText("--signdate", signdate, kPackHelp);
    std::string out = args.value("--out");
    if (out.empty())
        fail(kUsage, "--out must not be empty", kPackHelp);
    const std::string& library = args.operands[0];
    requireFile(library, "library");

    tessel::tls::RSA key;
    loadPrivateKey(key, args.value("--key"));
    String document = signatureDocument(key, library, args.value("--version"), name, signdate);

    std::string temporary = out + ".tmp";
    tessel::zlib::ZipWriter zip;
    if (!zip.open(text(temporary)))
        fail(kCannotCreate, "cannot create " + temporary);
    bool written = zip.addFile(text(pattern), text(library)) &&
                   zip.add(text(pattern + ".sig"), document.data(), document.length());
    if (!zip.close() || !written) {
        removeQuietly(temporary);
        fail(kCannotCreate, "cannot write " + temporary);
    }
    try {
        tessel::moveFile(text(temporary), text(out));
    } catch (const tessel::EFile&) {
        fail(kCannotCreate, "cannot create " + out);
    }
    std::printf("%s\n", fileMd5Hex(text(out)).c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    // Library diagnostics reach standard output once (not once more through a level stream).
    for (int level = 0; level < tessel::Console::kLevels; ++level)
        tessel::setOutput(level, "null");

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs("vexlan-sign: missing command\nRun 'vexlan-sign --help' for the commands.\n",
                   stderr);
        return kUsage;
    }
    std::string command = args.front();
    args.erase(args.begin());
    try {
        if (command == "--help" || command == "help") {
            std::fputs(kMainHelp, stdout);
            return kOk;
        }
        if (command == "keygen")
            return keygen(args);
        if (command == "sign")
            return sign(args);
        if (command == "verify")
            return verify(args);
        if (command == "pack")
            return pack(args);
        fail(kUsage, "unknown command " + command, kMainHelp);
    } catch (const Failure& f) {
        bool known = f.help != kMainHelp;
        std::fprintf(stderr, "vexlan-sign%s%s: %s\n", known ? " " : "",
                     known ? command.c_str() : "", f.message.c_str());
        if (f.help) {
            // The usage lines of the help, then where to find the rest.
            std::string help = f.help;
            std::fputs(help.substr(0, help.find("\n\n") + 1).c_str(), stderr);
            std::fprintf(stderr, "Run 'vexlan-sign %s--help' for more.\n",
                         known ? (command + " ").c_str() : "");
        }
        return f.code;
    } catch (const tessel::Exception& e) {
        std::fprintf(stderr, "vexlan-sign %s: %s\n", command.c_str(), e.toString().c_str());
        return kSoftware;
    }
}
