#include "vexlanclient/componentplacement.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "http/downloadmanager.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/componentfetch.h"
#include "vexlanclient/componentplacement_platform.h"
#include "vexlanclient/verifieddownload.h"
#include "zlib/zip.h"

using tessel::String;

namespace vexlan {

String hostCheckerDirectory() {
    return tessel::getProgramDirectory() + "/hostchecker";
}

String pluginDirectory() {
    return tessel::getProgramDirectory() + "/Plugin";
}

String pluginX64Directory() {
    return pluginDirectory() + "/x64";
}

String pluginPkiDirectory(const String& organisation) {
    return pluginDirectory() + "/PKIs/" + organisation;
}

void checkPathComponent(const String& text, const char* what, const char* className,
                        const char* method) {
    bool bad = text.isEmpty() || text.startsWith(".") ||
               text.findFirstOf("/\\", 2, 0) != String::npos || text.find('\0') != String::npos;
    if (bad) {
        tessel::log(2, className, method,
                    "Refusing " + String(what) + " outside the component folder: \"" + text + "\"");
        TESSEL_THROW(tessel::EClientConfiguration);
    }
}

const Dll& nativeComponent(const Dlls& dlls, const char* className, const char* method) {
    const Dll& dll = dlls.native();
    if (!dll.m_present) {
        tessel::log(2, className, method,
                    "No " + String(vexlan::detail::componentPlatform().nativeRecord) +
                        " component in the configuration");
        TESSEL_THROW(tessel::EModuleLoader);
    }
    return dll;
}

String fetchFromConfig(const String& directory, tessel::http::CurlSession& session,
                       const DownloadManager::DownloadConfig& record) {
    checkDownloadFileName(record.m_filename);
    String target = directory + "/" + record.m_filename;
    if (isReusableDownload(target, record.m_md5))
        return target;
    String url = record.m_urlpath + record.m_filename;
    if (downloadVerified(session, url, target, record.m_md5))
        return target;
    return String();
}

// ---------------------------------------------------------------------------------------------
// StagingFolder

// What a run that stopped half way left there goes first.
StagingFolder::StagingFolder(const String& path) : m_path(path) {
    remove();
}

StagingFolder::~StagingFolder() {
    remove();
}

void StagingFolder::remove() {
    if (!m_path.isEmpty())
        vexlan::detail::removeTree(m_path.c_str());
}

// ---------------------------------------------------------------------------------------------
// VersionedComponent

VersionedComponent::VersionedComponent(const char* className, const String& directory,
                                       const Dll& dll)
    : m_className(className), m_directory(directory), m_dll(dll) {
    checkPathComponent(dll.m_filename, "file name", className, "downloadDll");
    checkPathComponent(dll.m_version, "version", className, "downloadDll");
    checkPathComponent(dll.m_pattern, "pattern", className, "downloadDll");
    m_versionDirectory = directory + "/" + dll.m_version;
    m_library = m_versionDirectory + "/" + dll.m_pattern;
    m_signature = m_library + ".sig";
}

bool VersionedComponent::place(tessel::http::CurlSession& session, bool downloadAllowed,
                               bool refresh, const tessel::zlib::UnpackLimits& limits) {
    if (!downloadAllowed) {
        tessel::log(0, m_className, "downloadDll",
                    "Not downloading dll according to configuration");
        tessel::log(0, m_className, "downloadDll", "Using " + m_library + " as dll");
        return false;
    }
    if (!refresh && tessel::isFile(m_library) && tessel::isFile(m_signature)) {
        tessel::log(0, m_className, "downloadDll",
                    m_library + " and " + m_signature + " are already present.");
        return false;
    }
    tessel::ensureDirectory(m_directory);
    String archive = fetchFromConfig(m_directory, session, m_dll);
    if (archive.isEmpty())
        return true;  // the transfer layer logged why

    // Unpacked beside the version folder (a name no version can have, versions never start
    // with "."), and moved into place only once complete: an extraction that stops half way
    // never leaves a library without its signature, or the reverse, in the version folder.
    StagingFolder staging(m_directory + "/.unpack-" + m_dll.m_version);
    tessel::zlib::unzip(archive, staging.path(), limits);
    String stagedLibrary = staging.path() + "/" + m_dll.m_pattern;
    if (!tessel::isFile(stagedLibrary) || !tessel::isFile(stagedLibrary + ".sig")) {
        tessel::log(0, m_className, "downloadDll",
                    "Archive " + archive + " does not hold " + m_dll.m_pattern + " and " +
                        m_dll.m_pattern + ".sig");
        return true;
    }
    if (!vexlan::detail::removeTree(m_versionDirectory.c_str())) {
        tessel::log(2, m_className, "downloadDll",
                    "File '" + m_versionDirectory + "' already exists and cannot be removed");
        TESSEL_THROW(tessel::EFile);
    }
    tessel::moveFile(staging.path(), m_versionDirectory);
    staging.release();
    return true;
}

}  // namespace vexlan
