// The settings program's application object: one global instance, whose
// InitInstance runs the settings dialog modally and then lets the program end.
#pragma once

#include <QtGlobal>

#include "windows.h"

class QWidget;

class CSettingsApp {
  public:
    CSettingsApp();
    virtual ~CSettingsApp();

    // Runs the dialog; returns FALSE so the program ends without a message
    // loop of its own. Needs the QApplication to exist.
    virtual BOOL InitInstance();

    // The framework's standard help command (ID_HELP). No help content exists.
    void OnHelp();

    QWidget* m_pMainWnd = nullptr;

  private:
    Q_DISABLE_COPY_MOVE(CSettingsApp)
};

extern CSettingsApp theApp;

// The application's main window (the settings dialog while it runs), or null.
QWidget* AfxGetMainWnd();
