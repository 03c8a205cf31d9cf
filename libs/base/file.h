// File: a binary file that is at once a sequential writer and reader, plus the free
// operations on paths and folders and the locations the program uses. Paths may use "/" or
// "\"; the system layer receives "/" only. Failures raise EFile (after a log line where the
// operation has one); open reports failure by its result and the tests never raise.
#pragma once

#include <cstdint>
#include <vector>

#include "base/serialize.h"
#include "base/string.h"

namespace tessel {

class File : public IArchive {
public:
    static constexpr int kRead = 1;
    static constexpr int kWrite = 2;
    // With kWrite: a file meant for others (a publisher's artefact), created readable by
    // them. Without it every file written is the user's alone (0600), whatever the umask.
    static constexpr int kShared = 4;
    // Lengths of stored strings and buffers above this are refused before allocating.
    static constexpr uint32_t kMaxStoredLength = 0x100000;

    File() = default;
    ~File() override;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // kWrite alone creates or truncates; kRead|kWrite opens or creates; kRead alone needs an
    // existing file. False when the file cannot be opened (it stays closed).
    bool open(const String& path, int flags);
    void close();
    bool isOpen() const { return m_mode != 0; }
    const String& path() const { return m_path; }
    // Flushes written data to the disk (used before renaming a file into place).
    void sync();

    using IReader::read;
    using IWriter::write;

    // Writes happen only in write mode and reads only in read mode; otherwise nothing
    // happens. A short read raises EFile.
    void write(const void* data, int len) override;
    void write(const Buffer& data, int len) override;
    void write(ISerialize& object) override;
    void write(const Buffer& data) override;
    void write(const String& text) override;
    void write(char value) override;
    void write(unsigned char value) override;
    void write(bool value) override;
    void write(int value) override;
    void write(short value) override;
    void write(unsigned int value) override;
    void write(unsigned short value) override;
    void reserve(int) override {}

    void read(void* data, int len) override;
    void read(Buffer& data, int len) override;
    void read(ISerialize& object) override;
    void read(Buffer& data) override;
    void read(String& text) override;
    void read(char& value) override;
    void read(unsigned char& value) override;
    void read(bool& value) override;
    void read(int& value) override;
    void read(short& value) override;
    void read(unsigned int& value) override;
    void read(unsigned short& value) override;
    int available() override;
    int position() override;
    void seek(int position) override;

private:
    String m_path;
    int m_mode = 0;     // 0 closed, 1 writing, 2 reading
    int m_handle = -1;  // the system's descriptor
};

// The whole content of a file. Raises EFile when it cannot be opened or read (a folder too).
String readAllFile(const String& path);
void moveFile(const String& from, const String& to);
void deleteFile(const String& path);
// Removes the file (or the link itself) at `path`; false when nothing was removed. Never raises.
bool tryDeleteFile(const String& path);
bool isFile(const String& path);
bool isDirectory(const String& path);
// Creates every missing folder of `path`, each the user's alone (0700 whatever the umask);
// raises EFile when the last one cannot be created (an existing folder included).
void createDirectories(const String& path);
// isDirectory, or else createDirectories.
bool ensureDirectory(const String& path);
// Narrows a folder that this user owns and others may enter or read to owner-only access
// (0700). Returns its former permission bits when it was narrowed, -1 when nothing changed
// (already private, another user's, or no folder). Never raises.
int narrowFolderToOwner(const String& path);

// A copy of the current folder's path (later changes do not alter it).
String getCurrentDirectory();
bool setCurrentDirectory(const String& path);
// The process's arguments as the system started it, the program first.
std::vector<String> getCommandLineArguments();
// The process's arguments as one text, those with blanks or tabs in double quotes.
String getCommandLine();
// The program path of the command line (see executablePathFromCommandLine).
String getExecutablePath();
// The text between the first two double quotes when `commandLine` starts with one (to the
// end when the second is missing), otherwise the text up to the first blank or tab; then
// trimmed of blanks, tabs, line ends and zero bytes.
String executablePathFromCommandLine(const String& commandLine);
// "\" turned into "/", quotes removed, up to and including the last "/"; the path
// unchanged without "/".
String getParentFolder(const String& path);
// The same, ignoring a final "/": a folder path gives its own parent.
String getParentFolderOfFolder(const String& path);
// $HOME, else the password database's home folder; when neither is known, logged (TRACE)
// and the current folder instead. Never raises.
String getUserProfileDirectory();
// $XDG_CONFIG_HOME when absolute, else the home folder + "/.config"; the same fallback.
String getUserApplicationDataDirectory();
// The same without the fallback: empty when there is no home folder.
String findUserApplicationDataDirectory();

// The program folder (profile + "/Vexlan") and the settings file inside it.
String getProgramDirectory();
String getSettingsFilePath();
// Where the log file goes when the one in the temporary folder cannot be used: the local
// application data folder + "/Vexlan" where the system has one (Windows), else the program
// folder. Not created here.
String getLogFallbackDirectory();

// The OS name for the user agent; runs the system survey on first use.
String osName();

}  // namespace tessel
