// The configuration element that the gateway's first reply carries in "result": what kind of
// session to open and every value it needs. ClientConfiguration::load reads the element's
// "type", creates the matching class and reads it; dispatch then hands the element to a
// ClientConfigurationDispatcher by its own type (double dispatch), so that the client never
// tests the type itself.
//
// Every class here is read-only configuration filled by readConf through ConfReadHelper:
// a missing mandatory key, here or in a nested record, raises EConfMissingKey (after its log
// line); a missing optional key leaves the field at its default.
#pragma once

#include <memory>

#include "base/confhelper.h"
#include "base/gcobject.h"
#include "base/serializers.h"
#include "base/string.h"

namespace DownloadManager {

// Where to fetch one file: urlpath + filename, expected MD5 optional.
class DownloadConfig : public tessel::IConf {
public:
    // "filename" and "urlpath" mandatory, "md5" optional.
    void readConf(tessel::IKeyReader* reader) override;

    tessel::String m_filename;  // on the server and, unchanged, on disk
    tessel::String m_md5;       // 32 lowercase hexadecimal digits, or empty
    tessel::String m_urlpath;   // the URL prefix to which the file name is appended
};

}  // namespace DownloadManager

// One component: its download and the library inside the archive.
class Dll : public DownloadManager::DownloadConfig {
public:
    // The download keys, then "pattern" and "version", both mandatory.
    void readConf(tessel::IKeyReader* reader) override;

    tessel::String m_pattern;  // the library's name in the archive; its signature is + ".sig"
    tessel::String m_version;  // dotted, e.g. 2.4.1
    bool m_present = false;    // set when the gateway sent this record
};

// One component record per platform, each optional. The Linux client loads "linux64", the
// Windows client "win32".
class Dlls : public tessel::IConf {
public:
    // A record that is present must be complete: its mandatory keys stay mandatory.
    void readConf(tessel::IKeyReader* reader) override;

    // The record of the platform this client runs on.
    const Dll& native() const;

    Dll m_win32;
    Dll m_win64;
    Dll m_mac;
    Dll m_linux64;
};

// The PKI files of a tunnel plugin.
class Certificates : public tessel::IConf {
public:
    // "cert" and "ca", both mandatory.
    void readConf(tessel::IKeyReader* reader) override;

    DownloadManager::DownloadConfig m_cert;
    DownloadManager::DownloadConfig m_ca;
};

class ClientConfigurationDispatcher;

// The base of the three element classes.
class ClientConfigurationDispatcherElt : public tessel::IConf {
public:
    // Calls the dispatcher operation of this element's own type with this element.
    virtual void dispatch(ClientConfigurationDispatcher& dispatcher) = 0;
};

// Type "hostchecker": host checking, repeated at the gateway's interval.
class ClientHostcheckerDllConfiguration : public ClientConfigurationDispatcherElt {
public:
    void readConf(tessel::IKeyReader* reader) override;
    void dispatch(ClientConfigurationDispatcher& dispatcher) override;

    Dlls m_hostcheckerDlls;
    tessel::String m_hostcheckingrequest;  // handed to the component
    tessel::String m_responseurl;          // where answers are posted
    tessel::String m_hostname;
    tessel::String m_language;
    unsigned int m_hostcheckingtimer = 0;  // seconds between checks
};

// Type "plugindll": a plugin with a tunnel.
class ClientPluginDllConfiguration : public ClientConfigurationDispatcherElt {
public:
    ClientPluginDllConfiguration() : m_sslservercertname("element") {}
    void readConf(tessel::IKeyReader* reader) override;
    void dispatch(ClientConfigurationDispatcher& dispatcher) override;

    tessel::String m_orgname;
    tessel::String m_server;
    tessel::String m_certPassword;
    tessel::String m_login;
    tessel::String m_ticket;
    tessel::String m_sessionid;
    Dlls m_pluginDlls;
    Certificates m_certificates;
    tessel::String m_clientid;
    tessel::List<tessel::String> m_sslservercertname;  // optional; empty when absent
};

// Type "plugindllnotunnel": a plugin that launches one resource and runs on its own.
class NoTunnelClientPluginDllConfiguration : public ClientConfigurationDispatcherElt {
public:
    void readConf(tessel::IKeyReader* reader) override;
    void dispatch(ClientConfigurationDispatcher& dispatcher) override;

    tessel::String m_orgname;
    Dlls m_pluginDlls;
    tessel::String m_service;
    tessel::String m_clientid;
    int m_safetype = 0;
};

// Receives an element by its type. The client is the only dispatcher.
class ClientConfigurationDispatcher {
public:
    virtual void dispatch(NoTunnelClientPluginDllConfiguration& element) = 0;
    virtual void dispatch(ClientPluginDllConfiguration& element) = 0;
    virtual void dispatch(ClientHostcheckerDllConfiguration& element) = 0;
    virtual ~ClientConfigurationDispatcher() = default;
};

// The element of one run, with the type it was read as.
class ClientConfiguration : public tessel::gc::ObjectDelete {
public:
    ClientConfiguration(const tessel::String& type,
                        std::unique_ptr<ClientConfigurationDispatcherElt> element);
    const char* className() const override { return "ClientConfiguration"; }

    // Reads "type" from `result` (compared byte for byte with "hostchecker", "plugindll"
    // and "plugindllnotunnel"), then the element of that type from the same reader.
    // An unknown type is logged and raises EClientConfiguration; a missing mandatory key
    // raises EConfMissingKey. Nothing is returned in either case.
    static tessel::gc::Pointer<ClientConfiguration> load(tessel::IKeyReader& result);

    // Hands the element to `dispatcher` by its type.
    virtual void dispatch(ClientConfigurationDispatcher& dispatcher);

    const tessel::String& type() const { return m_type; }
    ClientConfigurationDispatcherElt* element() const { return m_element.get(); }

private:
    tessel::String m_type;
    std::unique_ptr<ClientConfigurationDispatcherElt> m_element;
};
