// Where component files go on disk and how they get there: the component folders inside the
// program folder, the fetch rule (reuse by MD5, else download), and the placement of a
// component kept in one folder per version (the host checker). The sub-clients call these on
// the client thread; plugin placement builds on the same pieces.
//
// Errors: every text of the gateway that becomes part of a path (file name, version, pattern)
// is checked first; a text that could leave its folder is logged at level 2 and raises
// EClientConfiguration before anything is fetched or written. Archive and file errors raise
// zlib::EZip and EFile.
#pragma once

#include "base/string.h"
#include "zlib/zip.h"

class Dll;
class Dlls;

namespace DownloadManager {
class DownloadConfig;
}

namespace tessel {
namespace http {
class CurlSession;
}
}  // namespace tessel

namespace vexlan {

// The component folders: the program folder, then "hostchecker", "Plugin", "Plugin/x64" and
// "Plugin/PKIs/<organisation>".
tessel::String hostCheckerDirectory();
tessel::String pluginDirectory();
tessel::String pluginX64Directory();
tessel::String pluginPkiDirectory(const tessel::String& organisation);

// Refuses `text` as one path component (the gateway's `what`, e.g. "version"): empty, holding
// "/", "\" or a zero byte, or starting with "." (so "." and ".." too). Logs
// log(2, className, method, ...) and raises EClientConfiguration.
void checkPathComponent(const tessel::String& text, const char* what, const char* className,
                        const char* method);

// The record this platform loads ("linux64"); when the gateway sent none, logs
// log(2, className, method, "No linux64 component in the configuration") and raises
// EModuleLoader.
const Dll& nativeComponent(const Dlls& dlls, const char* className, const char* method);

// The local path of the record's file in `directory`, fetched when needed: the file name is
// checked first (checkDownloadFileName); a file already there whose MD5 is the record's is
// used without a transfer; otherwise urlpath + filename is downloaded there (and removed
// again when the record's MD5 is not the download's). Empty when the download failed (the
// transfer layer logged why).
tessel::String fetchFromConfig(const tessel::String& directory, tessel::http::CurlSession& session,
                               const DownloadManager::DownloadConfig& record);

// A folder that an archive is unpacked into before its files are moved into place: removed
// (with everything in it) when made and again on every way out, unless released.
class StagingFolder {
public:
    explicit StagingFolder(const tessel::String& path);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const tessel::String& path() const { return m_path; }
    // Its content was moved away as a whole: nothing is removed any more.
    void release() { m_path = tessel::String(); }

private:
    void remove();
    tessel::String m_path;
};

// A component kept in one folder per version: D/version/pattern and its ".sig".
class VersionedComponent {
public:
    // `className` names the sub-client in log lines. Checks the record's file name, version
    // and pattern (checkPathComponent, method "downloadDll").
    VersionedComponent(const char* className, const tessel::String& directory, const Dll& dll);

    const tessel::String& libraryPath() const { return m_library; }
    const tessel::String& signaturePath() const { return m_signature; }
    const tessel::String& versionDirectory() const { return m_versionDirectory; }

    // The placement step ("downloadDll"). Without `downloadAllowed`, whatever lies at the
    // library path is used. Otherwise, unless `refresh`, a library and signature already
    // present are used as they are. Else the archive is fetched (or reused) and unpacked into
    // a fresh folder beside the version folder, which replaces the version folder only when
    // it holds both the library and its signature; an archive that cannot deliver both leaves
    // the version folder as it was (verification then says what is missing); one that goes
    // past `limits` raises zlib::EZip and leaves nothing behind. Returns whether the archive
    // was fetched and unpacked.
    bool place(tessel::http::CurlSession& session, bool downloadAllowed, bool refresh = false,
               const tessel::zlib::UnpackLimits& limits = tessel::zlib::UnpackLimits());

private:
    const char* m_className;
    tessel::String m_directory;
    const Dll& m_dll;
    tessel::String m_versionDirectory;
    tessel::String m_library;
    tessel::String m_signature;
};

}  // namespace vexlan
