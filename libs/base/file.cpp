#include "base/file.h"

#include "base/console.h"
#include "base/file_platform.h"
#include "base/fixedpositions.h"
#include "base/mutex.h"

namespace tessel {
namespace {

String systemPath(const String& path) {
    char separator = detail::pathSeparator();
    return path.replace(separator == '/' ? '\\' : '/', separator);
}

}  // namespace

File::~File() {
    close();
}

bool File::open(const String& path, int flags) {
    close();
    bool read = (flags & kRead) != 0;
    bool write = (flags & kWrite) != 0;
    if (!read && !write)
        return false;
    // Writing alone creates or truncates; reading and writing opens or creates.
    bool shared = (flags & kShared) != 0;
    int fd = detail::openFile(systemPath(path).c_str(), read, write, write, write && !read, shared);
    if (fd < 0)
        return false;
    m_handle = fd;
    m_mode = write ? 1 : 2;
    m_path = path;
    return true;
}

void File::close() {
    if (m_mode != 0)
        detail::closeFile(m_handle);
    m_handle = -1;
    m_mode = 0;
}

void File::sync() {
    if (m_mode == 1 && !detail::syncFile(m_handle)) {
        log(0, "File", "write", "can not write file, error: " + String(detail::lastError()));
        TESSEL_THROW_AT(EFile, fixed::kFileWriteError);
    }
}

void File::write(const void* data, int len) {
    if (m_mode != 1 || len <= 0)
        return;
    int64_t written = detail::writeFile(m_handle, data, static_cast<uint64_t>(len));
    if (written < 0) {
        log(0, "File", "write", "can not write file, error: " + String(detail::lastError()));
        TESSEL_THROW_AT(EFile, fixed::kFileWriteError);
    }
    if (written != len) {
        log(0, "File", "write", "can not write file, bad sizes");
        TESSEL_THROW_AT(EFile, fixed::kFileWriteShort);
    }
}

void File::write(const Buffer& data, int len) {
    // Never past the buffer's end; a negative count writes nothing.
    if (len <= 0)
        return;
    if (static_cast<uint32_t>(len) > data.length())
        len = static_cast<int>(data.length());
    write(data.data(), len);
}

void File::write(ISerialize& object) {
    object.write(static_cast<IWriter&>(*this));
}

void File::write(const Buffer& data) {
    write(data.length());
    write(data.data(), static_cast<int>(data.length()));
}

void File::write(const String& text) {
    write(text.length());
    write(text.data(), static_cast<int>(text.length()));
}

void File::write(char value) {
    write(&value, 1);
}
void File::write(unsigned char value) {
    write(&value, 1);
}
void File::write(bool value) {
    write(static_cast<unsigned short>(value ? 1 : 0));
}
void File::write(int value) {
    write(&value, 4);
}
void File::write(short value) {
    write(&value, 2);
}
void File::write(unsigned int value) {
    write(&value, 4);
}
void File::write(unsigned short value) {
    write(&value, 2);
}

void File::read(void* data, int len) {
    if (m_mode != 2 || len <= 0)
        return;
    int64_t got = detail::readFile(m_handle, data, static_cast<uint64_t>(len));
    if (got != len)
        TESSEL_THROW_AT(EFile, fixed::kFileReadShort);
}

void File::read(Buffer& data, int len) {
    if (m_mode != 2)
        return;
    if (len < 0)
        TESSEL_THROW_AT(EFile, fixed::kFileReadShort);
    Buffer fresh(static_cast<uint32_t>(len));  // keeps a zero byte after the data
    read(fresh.mutableData(), len);
    data = fresh;
}

void File::read(ISerialize& object) {
    object.read(static_cast<IReader&>(*this));
}

void File::read(Buffer& data) {
    if (m_mode != 2)
        return;
    unsigned int length = 0;
    read(length);
    if (length > kMaxStoredLength)
        TESSEL_THROW_AT(EFile, fixed::kFileStoredBufferTooLong);
    read(data, static_cast<int>(length));
}

void File::read(String& text) {
    if (m_mode != 2)
        return;
    unsigned int length = 0;
    read(length);
    if (length > kMaxStoredLength)
        TESSEL_THROW_AT(EFile, fixed::kFileStoredStringTooLong);
    String fresh;
    char* out = fresh.reserveAppend(length);
    read(out, static_cast<int>(length));
    fresh.setLength(length);
    text = fresh;
}

void File::read(char& value) {
    read(&value, 1);
}
void File::read(unsigned char& value) {
    read(&value, 1);
}
void File::read(bool& value) {
    if (m_mode != 2)
        return;
    unsigned short stored = 0;
    read(stored);
    value = stored != 0;
}
void File::read(int& value) {
    read(&value, 4);
}
void File::read(short& value) {
    read(&value, 2);
}
void File::read(unsigned int& value) {
    read(&value, 4);
}
void File::read(unsigned short& value) {
    read(&value, 2);
}

int File::available() {
    if (m_mode == 0)
        return 0;
    int64_t size = detail::fileSize(m_handle);
    int64_t at = detail::seekFile(m_handle, 0, 1);
    if (size < 0 || at < 0 || at >= size)
        return 0;
    int64_t left = size - at;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

int File::position() {
    if (m_mode == 0)
        return 0;
    int64_t at = detail::seekFile(m_handle, 0, 1);
    return at < 0 ? 0 : static_cast<int>(at);
}

void File::seek(int position) {
    if (m_mode != 0)
        detail::seekFile(m_handle, position, 0);
}

String readAllFile(const String& path) {
    File file;
    if (!file.open(path, File::kRead)) {
        log(0, "File", "readAllFile", "cannot open " + path);
        TESSEL_THROW_AT(EFile, fixed::kFileReadAllOpen);
    }
    int size = file.available();
    String content;
    if (size > 0) {
        char* out = content.reserveAppend(static_cast<uint32_t>(size));
        file.read(out, size);
        content.setLength(static_cast<uint32_t>(size));
    }
    return content;
}

void moveFile(const String& from, const String& to) {
    if (!detail::renamePath(systemPath(from).c_str(), systemPath(to).c_str())) {
        TESSEL_THROW_AT(EFile, fixed::kFileMove);
    }
}

bool tryDeleteFile(const String& path) {
    return detail::removeFile(systemPath(path).c_str());
}

void deleteFile(const String& path) {
    if (!detail::removeFile(systemPath(path).c_str()))
        TESSEL_THROW_AT(EFile, fixed::kFileDelete);
}

bool isFile(const String& path) {
    return detail::entryKind(systemPath(path).c_str()) == detail::EntryKind::File;
}

bool isDirectory(const String& path) {
    return detail::entryKind(systemPath(path).c_str()) == detail::EntryKind::Directory;
}

void createDirectories(const String& path) {
    String normal = systemPath(path);
    const char separator = detail::pathSeparator();
    String built;
    if (normal.charAt(0) == separator)
        built.append(separator);
    bool lastFailed = false;
    bool any = false;
    uint32_t start = 0;
    while (start <= normal.length()) {
        uint32_t slash = normal.find(separator, start);
        uint32_t end = slash == String::npos ? normal.length() : slash;
        String part = normal.substring(start, end - start);
        if (!part.isEmpty()) {
            built.append(part);
            // Earlier parts usually exist already: only the last one decides.
            lastFailed = !detail::makeDirectory(built.c_str());
            any = true;
            built.append(separator);
        }
        if (slash == String::npos)
            break;
        start = slash + 1;
    }
    if (!any || lastFailed)
        TESSEL_THROW_AT(EFile, fixed::kFileCreateDirectories);
}

bool ensureDirectory(const String& path) {
    if (isDirectory(path))
        return true;
    createDirectories(path);
    return true;
}

int narrowFolderToOwner(const String& path) {
    return detail::narrowDirectoryToOwner(systemPath(path).c_str());
}

String getCurrentDirectory() {
    return String::copy(detail::currentDirectory());
}

bool setCurrentDirectory(const String& path) {
    return detail::changeDirectory(systemPath(path).c_str());
}

std::vector<String> getCommandLineArguments() {
    std::vector<String> arguments;
    for (const std::string& arg : detail::commandLineArguments()) {
        arguments.push_back(String::copy(arg));
    }
    return arguments;
}

String getCommandLine() {
    // Rebuilt as one text, as the system keeps it elsewhere: arguments with blanks quoted.
    String line;
    for (const std::string& arg : detail::commandLineArguments()) {
        if (!line.isEmpty())
            line.append(' ');
        bool quote = arg.find_first_of(" \t") != std::string::npos;
        if (quote)
            line.append('"');
        line.append(arg.data(), static_cast<uint32_t>(arg.size()));
        if (quote)
            line.append('"');
    }
    return line;
}

String getExecutablePath() {
    return executablePathFromCommandLine(getCommandLine());
}

String executablePathFromCommandLine(const String& commandLine) {
    String line = commandLine;
    if (line.charAt(0) == '"') {
        uint32_t close = line.find('"', 1);
        line = close == String::npos ? line.substring(1) : line.substring(1, close - 1);
    } else {
        // Without quotes the program path ends at the first blank: keeping the arguments
        // would name no file at all.
        uint32_t blank = line.findFirstOf(" \t");
        if (blank != String::npos)
            line = line.substring(0, blank);
    }
    return line.trim();
}

String getParentFolder(const String& path) {
    String normal = path.replace('\\', '/').remove('"');
    uint32_t slash = normal.findLast('/');
    return slash == String::npos ? normal : normal.substring(0, slash + 1);
}

String getParentFolderOfFolder(const String& path) {
    String normal = path.replace('\\', '/').remove('"');
    if (normal.length() < 2)
        return normal;
    uint32_t slash = normal.findLast('/', normal.length() - 2);
    return slash == String::npos ? normal : normal.substring(0, slash + 1);
}

String getUserProfileDirectory() {
    std::string home = detail::homeDirectory();
    if (home.empty()) {
        log(0, "File", "getUserProfileDirectory", "can not retrieve user profile folder");
        return getCurrentDirectory();
    }
    return String::copy(home);
}

String findUserApplicationDataDirectory() {
    return String::copy(detail::configDirectory());
}

String getUserApplicationDataDirectory() {
    std::string config = detail::configDirectory();
    if (config.empty()) {
        log(0, "File", "getUserApplicationDataDirectory",
            "can not retrieve user application data folder");
        return getCurrentDirectory();
    }
    return String::copy(config);
}

String getProgramDirectory() {
    return getUserProfileDirectory() + "/Vexlan";
}

String getSettingsFilePath() {
    return getProgramDirectory() + "/vexlanclient.xml";
}

String getLogFallbackDirectory() {
    std::string local = detail::localDataDirectory();
    if (local.empty())
        return getProgramDirectory();
    return String::copy(local) + "/Vexlan";
}

namespace detail {

std::string osNameOf(int platformId, int major, int minor) {
    switch (platformId) {
        case 0:
            return "Microsoft Win32";
        case 1:
            return major == 4 && minor != 0 ? "Microsoft Windows 98" : "Microsoft Windows 95";
        case 2:
            if (major == 6 && minor == 2)
                return "Microsoft Windows 8";
            if (major == 6 && minor == 1)
                return "Microsoft Windows 7";
            if (major == 6 && minor == 0)
                return "Microsoft Windows Vista";
            if (major == 5 && minor == 2)
                return "Microsoft Windows XP x64";
            if (major == 5 && minor == 1)
                return "Microsoft Windows XP";
            if (major == 5 && minor == 0)
                return "Microsoft Windows 2000";
            return "Microsoft Windows NT family";
        default:
            return "UNKNOWN";
    }
}

}  // namespace detail

String osName() {
    Console* c = console();
    if (!c)
        return String();
    // The survey fills shared texts: one thread at a time.
    static CriticalSection surveyLock;
    ScopeLock lock(surveyLock);
    if (c->m_osName.isEmpty()) {
        detail::OsInfo info = detail::osSurvey();
        c->m_osVersion = String(static_cast<int32_t>(info.major)) + "." +
                         String(static_cast<int32_t>(info.minor));
        c->m_servicePack = String::copy(info.servicePack);
        c->m_osName = String::copy(info.name);
    }
    return c->m_osName;
}

}  // namespace tessel
