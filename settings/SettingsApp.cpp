#include "SettingsApp.h"

#include "SettingsDlg.h"

CSettingsApp theApp;

CSettingsApp::CSettingsApp() = default;
CSettingsApp::~CSettingsApp() = default;

BOOL CSettingsApp::InitInstance() {
    // Qt hosts every control the dialog uses and draws them in its own style,
    // so there is no control-container or 3D-look set-up to do here.
    CSettingsDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal(); // OK, cancel and failure all end the program alike
    m_pMainWnd = nullptr;
    return FALSE;
}

void CSettingsApp::OnHelp() {}

QWidget* AfxGetMainWnd() {
    return theApp.m_pMainWnd;
}
