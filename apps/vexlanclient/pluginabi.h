/* The binary interface of plugin components: the type of every export the client resolves,
 * and of the download delegate it hands over. Plain C, so that the client and components
 * written in C or C++ include the same declarations.
 *
 * All exports are plain functions whose arguments the caller removes. Texts are
 * zero-terminated 8-bit strings. `handle` is what DllCreatePluginFrontal returned; every
 * export except DllCreatePluginFrontal and DllReleaseStr takes it first. The results of the
 * setters, DllExecute2, DllStart2, DllStop2, DllReleaseStr and LaunchSafeResource are
 * ignored by the client.
 *
 * Texts returned by DllGetLogs2 and DllGetErrors2 belong to the component; the client copies
 * each one at once and hands the same pointer back to DllReleaseStr exactly once (a null
 * result counts as an empty text and is not handed back).
 *
 * Threads: the client calls the exports from one thread, one call at a time. A component may
 * call the download delegate from any of its threads once DllSetDownloadDelegate2 gave it.
 *
 * A component defines VEXLAN_PLUGIN_COMPONENT before including this header: the exports are
 * then declared with these exact types and exported, so that a definition that does not
 * match fails to compile. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The download delegate: fetches `url` into the file `path`; 1 when the file was written,
 * 0 when the transfer failed. A URL that starts with "/" is taken on the gateway's host. */
typedef int VexlanDownloadDelegate(const char* url, const char* path);

/* 1 DllCreatePluginFrontal: the plugin object's handle; null means failure. */
typedef void* VexlanCreatePluginFrontal(void);
/* 2-14 and 16: DllSetDllVersion2, DllSetPluginDir2, DllSetLogin2, DllSetOrganization2,
 * DllSetHostname2, DllSetServer2, DllSetSuffix2, DllSetTicket2, DllSetSessionId2,
 * DllSetCertDirectory2, DllSetCertFileName2, DllSetCaFileName2, DllSetCertPassword2,
 * DllSetProxy2; and 24 DllAddSslServerCertificateName (once per name). */
typedef int VexlanSetText(void* handle, const char* text);
/* 15 DllSetDownloadDelegate2. */
typedef int VexlanSetDownloadDelegate(void* handle, VexlanDownloadDelegate* delegate);
/* 17 DllGetLogs2 and 19 DllGetErrors2: a text the component owns until DllReleaseStr. */
typedef const char* VexlanGetText(void* handle);
/* 18 DllExecute2: a command and two further texts (empty from this client). */
typedef int VexlanExecute(void* handle, const char* command, const char* second, const char* third);
/* 20 DllStart2 and 21 DllStop2. */
typedef int VexlanHandleCall(void* handle);
/* 22 DllReleaseStr: gives back a text returned by DllGetLogs2 or DllGetErrors2. */
typedef int VexlanReleaseText(const char* text);
/* 23 LaunchSafeResource (optional): launches the service of the given safe type. */
typedef int VexlanLaunchSafeResource(void* handle, int32_t safetype, const char* service);

#ifdef VEXLAN_PLUGIN_COMPONENT
#ifdef _WIN32
#define VEXLAN_PLUGIN_EXPORT __declspec(dllexport)
#else
#define VEXLAN_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif
VEXLAN_PLUGIN_EXPORT VexlanCreatePluginFrontal DllCreatePluginFrontal;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetDllVersion2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetPluginDir2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetLogin2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetOrganization2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetHostname2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetServer2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetSuffix2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetTicket2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetSessionId2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetCertDirectory2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetCertFileName2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetCaFileName2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetCertPassword2;
VEXLAN_PLUGIN_EXPORT VexlanSetDownloadDelegate DllSetDownloadDelegate2;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllSetProxy2;
VEXLAN_PLUGIN_EXPORT VexlanGetText DllGetLogs2;
VEXLAN_PLUGIN_EXPORT VexlanExecute DllExecute2;
VEXLAN_PLUGIN_EXPORT VexlanGetText DllGetErrors2;
VEXLAN_PLUGIN_EXPORT VexlanHandleCall DllStart2;
VEXLAN_PLUGIN_EXPORT VexlanHandleCall DllStop2;
VEXLAN_PLUGIN_EXPORT VexlanReleaseText DllReleaseStr;
VEXLAN_PLUGIN_EXPORT VexlanLaunchSafeResource LaunchSafeResource;
VEXLAN_PLUGIN_EXPORT VexlanSetText DllAddSslServerCertificateName;
#endif

#ifdef __cplusplus
}
#endif
