// The application: decides whether this process runs (a start parameter, no other instance
// for the same parameter), sets up the language, builds the hidden main frame with the client
// and starts the client.
#pragma once

#include <wx/app.h>
#include <wx/snglinst.h>
#include <wx/string.h>

#include "base/string.h"

class VexlanClientGui : public wxApp {
public:
    VexlanClientGui() = default;

    bool OnInit() override;
    int OnExit() override;

private:
    wxSingleInstanceChecker* m_checker = nullptr;
};

// "vexlanclient:" followed by the Base64 of the SHA-1 digest of the start parameter's bytes,
// with "/" made "_" (28 characters ending in "=").
wxString instanceName(const tessel::String& startParameter);

// main's own argument vector: OnInit overwrites the start parameter in it once it has copied
// it, so that other users do not find the identifier in the process list.
void keepProcessArguments(int argc, char** argv);

// The process-wide application object (null before OnInit).
VexlanClientGui* theApplication();
