// Linux data protection: AES-256-GCM under a random 32-byte key of the user, kept in
// $XDG_CONFIG_HOME/vexlan/protect.key (mode 0600). The user id is bound into every blob as
// associated data, so that a blob copied to another account does not unprotect there, and the
// tag makes any alteration fail.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/platform.h"
#include "vexlanclient/dataprotection.h"
#include "vexlanclient/unix/dataprotection_unix.h"

namespace vexlan {
namespace unixprotection {
namespace {

constexpr unsigned char kVersion = 1;
constexpr int kNonceLength = 12;
constexpr int kTagLength = 16;
constexpr uint32_t kOverhead = 1 + kNonceLength + kTagLength;

[[noreturn]] void fail(const char* method, const std::string& text, uint32_t line) {
    tessel::log(2, "DataProtection", method, tessel::String::copy(text));
    throw EDataProtection("EDataProtection", __FILE__, line);
}

std::string systemError(int error) { return std::strerror(error); }

std::string associatedData(uint32_t userId) {
    return "vexlan-protect:" + std::to_string(kVersion) + ":uid=" + std::to_string(userId);
}

struct ContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

// Wipes key material when it goes out of scope.
struct Wipe {
    void* data;
    size_t length;
    ~Wipe() { OPENSSL_cleanse(data, length); }
};

bool writeAll(int fd, const unsigned char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, unsigned char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Creates the missing folders of `dir`, each readable by the user only.
bool makeFolders(const std::string& dir) {
    for (size_t slash = dir.find('/', 1); ; slash = dir.find('/', slash + 1)) {
        std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads an existing key file: a regular file of this user, not open to others, 32 bytes.
tessel::Buffer readKeyFile(int fd, const char* method, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(method, "the protection key " + path + " is not a file", __LINE__);
    }
    if (st.st_uid != ::geteuid()) {
        fail(method, "the protection key " + path + " belongs to another user", __LINE__);
    }
    if ((st.st_mode & 077) != 0) {
        fail(method, "the protection key " + path + " is open to other users", __LINE__);
    }
    if (st.st_size != static_cast<off_t>(kKeyLength)) {
        fail(method, "the protection key " + path + " is damaged", __LINE__);
    }
    tessel::Buffer key(kKeyLength);
    if (!readAll(fd, key.mutableData(), kKeyLength)) {
        fail(method, "cannot read the protection key " + path + ": " + systemError(errno),
             __LINE__);
    }
    return key;
}

void syncFolder(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Makes a new key at `path`: written completely to a private temporary file first, then
// linked into place without replacing anything. True when this call placed the key; false
// when another creator was first (its key is then the one to use).
bool createKey(const std::string& path, tessel::Buffer& key) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!makeFolders(dir)) {
        fail("protect", "cannot create the folder " + dir + ": " + systemError(errno), __LINE__);
    }
    unsigned char bytes[kKeyLength];
    Wipe wipe{bytes, sizeof bytes};
    if (RAND_bytes(bytes, static_cast<int>(kKeyLength)) != 1) {
        fail("protect", "no random bytes for the protection key", __LINE__);
    }
    std::string pattern = dir + "/protect.key.XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    int fd = ::mkstemp(temporary.data());  // created with mode 0600
    if (fd < 0) {
        fail("protect", "cannot create a file in " + dir + ": " + systemError(errno), __LINE__);
    }
    bool written = ::fchmod(fd, 0600) == 0 && writeAll(fd, bytes, kKeyLength) && ::fsync(fd) == 0;
    int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.data());
        fail("protect", "cannot write the protection key: " + systemError(writeError), __LINE__);
    }
    bool placed = ::link(temporary.data(), path.c_str()) == 0;
    int error = errno;
    if (placed || error == EEXIST) {
        ::unlink(temporary.data());
    } else {
        // File systems without hard links: an exclusive rename instead.
        placed = ::renameat2(AT_FDCWD, temporary.data(), AT_FDCWD, path.c_str(),
                             RENAME_NOREPLACE) == 0;
        error = errno;
        if (!placed) ::unlink(temporary.data());
    }
    if (placed) {
        syncFolder(dir);
        key = tessel::Buffer(bytes, kKeyLength);
        return true;
    }
    if (error == EEXIST) return false;
    fail("protect", "cannot place the protection key " + path + ": " + systemError(error),
         __LINE__);
}

}  // namespace

std::string keyFilePath() {
    std::string config = tessel::platform::configDirectory();
    return config.empty() ? std::string() : config + "/vexlan/protect.key";
}

uint32_t currentUserId() { return static_cast<uint32_t>(::getuid()); }

tessel::Buffer loadKey(bool create) {
    const char* method = create ? "protect" : "unprotect";
    std::string path = keyFilePath();
    if (path.empty()) fail(method, "no configuration folder for the protection key", __LINE__);
    // Two rounds: when another creator places its key first, the second round reads it.
    for (int round = 0; round < 2; ++round) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        if (fd >= 0) {
            struct Close {
                int fd;
                ~Close() { ::close(fd); }
            } closer{fd};
            return readKeyFile(fd, method, path);
        }
        if (errno != ENOENT) {
            fail(method, "cannot open the protection key " + path + ": " + systemError(errno),
                 __LINE__);
        }
        if (!create) fail(method, "no protection key " + path, __LINE__);
        tessel::Buffer key;
        if (createKey(path, key)) return key;
    }
    fail(method, "the protection key " + path + " disappeared", __LINE__);
}

tessel::Buffer seal(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& plain) {
    if (key.length() != kKeyLength) fail("protect", "bad key length", __LINE__);
    tessel::Buffer blob(kOverhead + plain.length());
    unsigned char* out = blob.mutableData();
    out[0] = kVersion;
    unsigned char* nonce = out + 1;
    unsigned char* cipher = nonce + kNonceLength;
    unsigned char* tag = cipher + plain.length();
    if (RAND_bytes(nonce, kNonceLength) != 1) fail("protect", "no random bytes", __LINE__);
    std::string aad = associatedData(userId);
    Context context(EVP_CIPHER_CTX_new());
    int n = 0;
    bool ok = context &&
              EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
              EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLength, nullptr) &&
              EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) &&
              EVP_EncryptUpdate(context.get(), nullptr, &n,
                                reinterpret_cast<const unsigned char*>(aad.data()),
                                static_cast<int>(aad.size()));
    if (ok && plain.length() > 0) {
        ok = EVP_EncryptUpdate(context.get(), cipher, &n, plain.data(),
                               static_cast<int>(plain.length()));
    }
    unsigned char rest[16];  // GCM writes nothing at the end; the room is only formal
    int last = 0;
    ok = ok && EVP_EncryptFinal_ex(context.get(), rest, &last) &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagLength, tag);
    if (!ok) fail("protect", "cannot encrypt", __LINE__);
    return blob;
}

tessel::Buffer open(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& blob) {
    if (key.length() != kKeyLength) fail("unprotect", "bad key length", __LINE__);
    if (blob.length() < kOverhead || blob.data()[0] != kVersion) {
        fail("unprotect", "the protected data is damaged", __LINE__);
    }
    uint32_t length = blob.length() - kOverhead;
    const unsigned char* nonce = blob.data() + 1;
    const unsigned char* cipher = nonce + kNonceLength;
    const unsigned char* tag = cipher + length;
    tessel::Buffer plain(length);
    std::string aad = associatedData(userId);
    Context context(EVP_CIPHER_CTX_new());
    int n = 0;
    bool ok = context &&
              EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
              EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLength, nullptr) &&
              EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) &&
              EVP_DecryptUpdate(context.get(), nullptr, &n,
                                reinterpret_cast<const unsigned char*>(aad.data()),
                                static_cast<int>(aad.size()));
    if (ok && length > 0) {
        ok = EVP_DecryptUpdate(context.get(), plain.mutableData(), &n, cipher,
                               static_cast<int>(length));
    }
    unsigned char rest[16];  // GCM writes nothing at the end; the room is only formal
    int last = 0;
    ok = ok &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagLength,
                             const_cast<unsigned char*>(tag)) &&
         EVP_DecryptFinal_ex(context.get(), rest, &last) > 0;
    if (!ok) {
        if (length > 0) OPENSSL_cleanse(plain.mutableData(), length);
        fail("unprotect", "the protected data belongs to another user or was altered", __LINE__);
    }
    return plain;
}

}  // namespace unixprotection

tessel::Buffer protectData(const tessel::Buffer& plain) {
    tessel::Buffer key = unixprotection::loadKey(true);
    unixprotection::Wipe wipe{key.mutableData(), key.length()};
    return unixprotection::seal(key, unixprotection::currentUserId(), plain);
}

tessel::Buffer unprotectData(const tessel::Buffer& blob) {
    tessel::Buffer key = unixprotection::loadKey(false);
    unixprotection::Wipe wipe{key.mutableData(), key.length()};
    return unixprotection::open(key, unixprotection::currentUserId(), blob);
}

}  // namespace vexlan
