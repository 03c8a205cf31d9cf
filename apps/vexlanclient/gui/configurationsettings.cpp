// The settings dialog against the client's local settings.
#include "base/credentials.h"
#include "vexlanclient/clientlocalconfiguration.h"
#include "vexlanclient/gui/configurationdialog.h"
#include "vexlanclient/gui/textconversion.h"

void VexlanClientConfigurationDialog::loadSettings(
    const vexlan::ClientLocalConfiguration& settings) {
    const tessel::Credentials credentials = settings.proxyCredentials();
    wxArrayString domains;
    for (const tessel::String& domain : settings.certificateExceptions()) {
        domains.push_back(toWx(domain));
    }
    setValues(toWx(credentials.login()), toWx(credentials.password()), domains);
}

void VexlanClientConfigurationDialog::storeSettings(
    vexlan::ClientLocalConfiguration& settings) const {
    tessel::Credentials credentials;
    credentials.setLogin(fromWx(login()));
    credentials.setPassword(fromWx(password()));
    settings.setProxyCredentials(credentials);
    tessel::List<tessel::String>& exceptions = settings.certificateExceptions();
    exceptions.clear();
    for (const wxString& domain : domains())
        exceptions.push_back(fromWx(domain));
}
