// The settings dialog (template 102): shows the settings from "Mirel.ini" and
// writes every change back at the moment it is made.
#pragma once

#include "resource.h"

#include <QBrush>
#include <QDialog>
#include <QIcon>
#include <QString>

#include <optional>

#include "windows.h"

class QFileDialog;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;

// The current colour: the colour sliders' positions as last read (255 each
// until the dialog initialises).
extern int g_nColorR;
extern int g_nColorG;
extern int g_nColorB;

// Full path and bare name of the model file last chosen; empty until then.
extern QString g_strPathName;
extern QString g_strFileName;

class CSettingsDlg : public QDialog {
    Q_OBJECT
  public:
    enum { IDD = IDD_PLUMORA_DIALOG };

    explicit CSettingsDlg(QWidget* pParent = nullptr);
    ~CSettingsDlg() override;

    // Initialises the dialog (once) and runs it modally.
    int DoModal();

    // What DoModal does before its loop: OnInitDialog. Runs once; later calls
    // return TRUE without doing anything.
    BOOL InitDialog();

    QWidget* GetDlgItem(int nID) const;

    // The dialog's system menu, offered as its context menu (right click,
    // Shift+F10 or the Menu key): Linux window managers own the title bar's.
    QMenu* GetSystemMenu(BOOL bRevert);

    // The folder part of a path, up to and including its last separator ("\"
    // or "/"); empty when there is none.
    static QString GetPathFolder(const QString& strPath);

    // Sets up a file chooser as OnXFileOpen runs it: filters, initial folder.
    static void PrepareFileChooser(QFileDialog& dlg, const QString& initialFolder);

    QIcon m_hAppIcon;
    QLineEdit* m_wndSwatch = nullptr; // the colour swatch, painted in OnCtlColor's colour

  protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Runs the open-file chooser modally; the chosen file's full path, or
    // nothing when the user cancels. Tests replace it.
    virtual std::optional<QString> RunFileChooser(const QString& initialFolder);

    // Message map handlers.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    QIcon OnQueryDragIcon();
    void OnOkButton();
    void OnHScroll(UINT nSBCode, UINT nPos, QSlider* pScrollBar);
    QBrush OnCtlColor(QWidget* pWnd, UINT nCtlColor);
    void OnSolid();
    void OnWireflame();
    void OnXFileOpen();
    void OnPreview();

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BindControls();
    void BindMessageMap();
    void ShowSystemMenu(const QPoint& globalPos);
    void ReadColorSliders();
    void InvalidateSwatch();
    void ShowColorReadout();
    void ShowSpeedReadout(int speed);

    // The template's controls, bound once when the dialog is built.
    QSlider* m_sliderR = nullptr;
    QSlider* m_sliderG = nullptr;
    QSlider* m_sliderB = nullptr;
    QSlider* m_sliderSpeed = nullptr;
    QRadioButton* m_radioSolid = nullptr;
    QRadioButton* m_radioWireflame = nullptr;
    QLineEdit* m_editColor = nullptr;
    QLineEdit* m_editSpeed = nullptr;
    QLineEdit* m_editFile = nullptr;
    QPushButton* m_btnOk = nullptr;
    QPushButton* m_btnXFileOpen = nullptr;
    QPushButton* m_btnPreview = nullptr;

    QMenu* m_pSysMenu = nullptr;
    bool m_bInitialised = false;
};
