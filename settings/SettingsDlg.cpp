#include "SettingsDlg.h"

#include "DialogTemplate.h"
#include "SettingsApp.h"
#include "VersionInfoDlg.h"
#include "settings_keys.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cstdio>
#include <vector>

#include "win32ext.h"

int g_nColorR = DEFAULT_COLOR;
int g_nColorG = DEFAULT_COLOR;
int g_nColorB = DEFAULT_COLOR;
QString g_strPathName;
QString g_strFileName;

namespace {

// Chooser filters: the pattern Windows reads as "every file" is "*.*"; on
// Linux that would hide names without a dot, so "AllFiles" matches "*".
const char kFilterXFile[] = "XFile(*.x)";
const char kFilterAllFiles[] = "AllFiles(*.*)";

void WriteProfileInt(const char* section, const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(section, key, text, SETTINGS_FILE);
}

// The template's control with this ID as the type the template gives it. The
// template is compiled in: a missing or different control is a programming error.
template <class T> T* BindControl(const CSettingsDlg& dlg, int nID) {
    T* control = qobject_cast<T*>(dlg.GetDlgItem(nID));
    if (!control)
        qFatal("settings dialog: control %d is not a %s", nID, T::staticMetaObject.className());
    return control;
}

void ShowText(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setCursorPosition(0); // show the start, as the platform's edit box does
}

QString ReadFileNameSetting() {
    std::vector<char> buffer(FILENAME_BUFFER_SIZE);
    GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, DEFAULT_FILENAME, buffer.data(),
                             static_cast<DWORD>(buffer.size()), SETTINGS_FILE);
    return QFile::decodeName(buffer.data());
}

} // namespace

CSettingsDlg::CSettingsDlg(QWidget* pParent)
    : QDialog(pParent), m_hAppIcon(QLatin1String(kAppIconResource)) {
    CreateDialogIndirect(this, SettingsDialogTemplate());
    BindControls();
    // A top-level window of its own (own taskbar entry) with a minimise box
    // and no maximise box; its size is fixed by the template.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // The platform part of the system menu; OnInitDialog appends our item.
    m_pSysMenu = new QMenu(this);
    QAction* minimise = m_pSysMenu->addAction(QString::fromUtf8("最小化(&N)"));
    minimise->setData(SC_MINIMIZE);
    QAction* close = m_pSysMenu->addAction(QString::fromUtf8("閉じる(&C)\tAlt+F4"));
    close->setData(SC_CLOSE);

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowSystemMenu(mapToGlobal(pos)); });
    auto* menuKey = new QAction(this);
    menuKey->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu),
                           QKeySequence(Qt::ALT | Qt::Key_Space)});
    menuKey->setShortcutContext(Qt::WindowShortcut);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, [this] {
        // Drop down from the focused control, or from the client area's corner.
        QWidget* focus = focusWidget();
        const QPoint at =
            focus ? focus->mapToGlobal(QPoint(0, focus->height())) : mapToGlobal(QPoint(0, 0));
        ShowSystemMenu(at);
    });

    BindMessageMap();
}

CSettingsDlg::~CSettingsDlg() = default;

void CSettingsDlg::BindControls() {
    m_sliderR = BindControl<QSlider>(*this, IDC_SLIDER_R);
    m_sliderG = BindControl<QSlider>(*this, IDC_SLIDER_G);
    m_sliderB = BindControl<QSlider>(*this, IDC_SLIDER_B);
    m_sliderSpeed = BindControl<QSlider>(*this, IDC_SLIDER_SPEED);
    m_radioSolid = BindControl<QRadioButton>(*this, IDC_RADIO_SOLID);
    m_radioWireflame = BindControl<QRadioButton>(*this, IDC_RADIO_WIREFLAME);
    m_editColor = BindControl<QLineEdit>(*this, IDC_EDIT_COLOR);
    m_editSpeed = BindControl<QLineEdit>(*this, IDC_EDIT_SPEED);
    m_editFile = BindControl<QLineEdit>(*this, IDC_EDIT_FILE);
    m_wndSwatch = BindControl<QLineEdit>(*this, IDC_SWATCH);
    m_btnOk = BindControl<QPushButton>(*this, IDC_OK_BUTTON);
    m_btnXFileOpen = BindControl<QPushButton>(*this, IDC_XFILE_OPEN);
    m_btnPreview = BindControl<QPushButton>(*this, IDC_PREVIEW);
}

void CSettingsDlg::BindMessageMap() {
    // 1: system commands come from the system menu's items.
    connect(m_pSysMenu, &QMenu::triggered, this,
            [this](QAction* action) { OnSysCommand(action->data().toUInt(), 0); });
    // 2 and 3, painting and the drag icon, are the paintEvent override and
    // OnQueryDragIcon. 4: "OK".
    connect(m_btnOk, &QPushButton::clicked, this, &CSettingsDlg::OnOkButton);
    // 5: every notification of every slider: value changes (tracking, keys,
    // clicks in the channel, wheel) and the end of a drag.
    for (QSlider* slider : {m_sliderR, m_sliderG, m_sliderB, m_sliderSpeed}) {
        connect(slider, &QSlider::valueChanged, this, [this, slider](int pos) {
            OnHScroll(slider->isSliderDown() ? TB_THUMBTRACK : TB_THUMBPOSITION, pos, slider);
        });
        connect(slider, &QSlider::sliderReleased, this,
                [this, slider] { OnHScroll(TB_ENDTRACK, slider->value(), slider); });
    }
    // 6: control colours are asked for by InvalidateSwatch. 7 to 10: buttons.
    connect(m_radioSolid, &QRadioButton::clicked, this, &CSettingsDlg::OnSolid);
    connect(m_radioWireflame, &QRadioButton::clicked, this, &CSettingsDlg::OnWireflame);
    connect(m_btnXFileOpen, &QPushButton::clicked, this, &CSettingsDlg::OnXFileOpen);
    connect(m_btnPreview, &QPushButton::clicked, this, &CSettingsDlg::OnPreview);
}

int CSettingsDlg::DoModal() {
    InitDialog();
    return exec();
}

BOOL CSettingsDlg::InitDialog() {
    if (m_bInitialised) return TRUE;
    m_bInitialised = true;
    return OnInitDialog();
}

QWidget* CSettingsDlg::GetDlgItem(int nID) const {
    return findChild<QWidget*>(QStringLiteral("IDC_%1").arg(nID), Qt::FindDirectChildrenOnly);
}

QMenu* CSettingsDlg::GetSystemMenu(BOOL bRevert) {
    // Only the current copy is ever asked for; there is no pristine one to
    // go back to.
    (void)bRevert;
    return m_pSysMenu;
}

BOOL CSettingsDlg::OnInitDialog() {
    QMenu* pSysMenu = GetSystemMenu(FALSE);
    if (pSysMenu) {
        const QString strAboutMenu = LoadResString(IDS_ABOUTBOX);
        if (!strAboutMenu.isEmpty()) {
            pSysMenu->addSeparator();
            pSysMenu->addAction(strAboutMenu)->setData(IDM_ABOUTBOX);
        }
    }

    setWindowIcon(m_hAppIcon); // big and small alike

    // Read as stored: the sliders bound the values for display.
    const int nColorR = static_cast<int>(
        GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_R, DEFAULT_COLOR, SETTINGS_FILE));
    const int nColorG = static_cast<int>(
        GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_G, DEFAULT_COLOR, SETTINGS_FILE));
    const int nColorB = static_cast<int>(
        GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_B, DEFAULT_COLOR, SETTINGS_FILE));
    const int nSpeed = static_cast<int>(
        GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, SETTINGS_DEFAULT_SPEED, SETTINGS_FILE));
    const int nShade = static_cast<int>(
        GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, DEFAULT_SHADE, SETTINGS_FILE));

    (nShade != 0 ? m_radioWireflame : m_radioSolid)->setChecked(true);

    // Filling the sliders is not a user's movement: nothing may be written.
    const struct {
        QSlider* slider;
        int min, max, pos;
    } sliders[] = {{m_sliderR, 0, COLOR_MAX, nColorR},
                   {m_sliderG, 0, COLOR_MAX, nColorG},
                   {m_sliderB, 0, COLOR_MAX, nColorB},
                   {m_sliderSpeed, SPEED_MIN, SPEED_MAX, nSpeed}};
    for (const auto& s : sliders) {
        const QSignalBlocker blocker(s.slider);
        s.slider->setRange(s.min, s.max);
        s.slider->setSingleStep(1);
        s.slider->setPageStep(qMax(1, s.max / 5)); // the trackbar's page is a fifth
        s.slider->setValue(s.pos);                 // out-of-range values go to the nearer end
    }

    ReadColorSliders();
    ShowColorReadout();
    ShowSpeedReadout(m_sliderSpeed->value());
    InvalidateSwatch();

    ShowText(m_editFile, ReadFileNameSetting());

    m_sliderR->setFocus(Qt::OtherFocusReason);
    return TRUE;
}

void CSettingsDlg::OnOK() {
    accept();
}
void CSettingsDlg::OnCancel() {
    reject();
}

void CSettingsDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // Enter presses the focused push button; anywhere else it is OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            OnOK();
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSettingsDlg::ShowSystemMenu(const QPoint& globalPos) {
    m_pSysMenu->exec(globalPos);
}

void CSettingsDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    (void)lParam;
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        // Owned by this dialog, as the framework owns a parentless dialog by
        // the main window: modal over it, and kept above it.
        CVersionInfoDlg dlgAbout(this);
        dlgAbout.DoModal();
        return;
    }
    switch (nID & 0xFFF0) {
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CSettingsDlg::paintEvent(QPaintEvent* event) {
    OnPaint();
    QDialog::paintEvent(event);
}

void CSettingsDlg::OnPaint() {
    // A minimised window is drawn by the window manager from the window icon
    // (m_hAppIcon, set in OnInitDialog); only the default painting is left.
}

QIcon CSettingsDlg::OnQueryDragIcon() {
    return m_hAppIcon;
}

void CSettingsDlg::OnOkButton() {
    // A close request to the main window, handled later like its close box.
    QWidget* pMainWnd = AfxGetMainWnd() ? AfxGetMainWnd() : this;
    QMetaObject::invokeMethod(
        pMainWnd, [pMainWnd] { pMainWnd->close(); }, Qt::QueuedConnection);
}

void CSettingsDlg::OnHScroll(UINT nSBCode, UINT nPos, QSlider* pScrollBar) {
    (void)nSBCode;
    (void)nPos;
    (void)pScrollBar;
    ReadColorSliders();
    ShowColorReadout();
    const int nSpeed = m_sliderSpeed->value();
    ShowSpeedReadout(nSpeed);

    WriteProfileInt(SECTION_SETTING, KEY_COLOR_R, g_nColorR);
    WriteProfileInt(SECTION_SETTING, KEY_COLOR_G, g_nColorG);
    WriteProfileInt(SECTION_SETTING, KEY_COLOR_B, g_nColorB);
    WriteProfileInt(SECTION_SS, KEY_SPEED, nSpeed);

    InvalidateSwatch();
}

QBrush CSettingsDlg::OnCtlColor(QWidget* pWnd, UINT nCtlColor) {
    const QBrush hbr = pWnd->palette().brush(QPalette::Base);
    if (nCtlColor == CTLCOLOR_EDIT && pWnd == m_wndSwatch)
        return QBrush(QColor(g_nColorR & 0xFF, g_nColorG & 0xFF, g_nColorB & 0xFF));
    return hbr;
}

void CSettingsDlg::InvalidateSwatch() {
    // The swatch asks as an editable edit box. Brushes are values in Qt, so
    // nothing is left behind when the colour changes.
    const QBrush brush = OnCtlColor(m_wndSwatch, CTLCOLOR_EDIT);
    QPalette palette = m_wndSwatch->palette();
    if (palette.brush(QPalette::Base) != brush) {
        palette.setBrush(QPalette::Base, brush);
        m_wndSwatch->setPalette(palette);
    }
    m_wndSwatch->update();
}

void CSettingsDlg::OnSolid() {
    WriteProfileInt(SECTION_SS, KEY_SHADE, SHADE_SOLID);
}

void CSettingsDlg::OnWireflame() {
    WriteProfileInt(SECTION_SS, KEY_SHADE, SHADE_WIREFRAME);
}

QString CSettingsDlg::GetPathFolder(const QString& strPath) {
    for (qsizetype i = strPath.size() - 1; i >= 0; --i) {
        if (strPath[i] == QLatin1Char('\\') || strPath[i] == QLatin1Char('/'))
            return strPath.left(i + 1);
    }
    return QString();
}

void CSettingsDlg::PrepareFileChooser(QFileDialog& dlg, const QString& initialFolder) {
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setWindowModality(Qt::WindowModal);
    dlg.setNameFilters({QString::fromLatin1(kFilterXFile), QString::fromLatin1(kFilterAllFiles)});
    dlg.selectNameFilter(QString::fromLatin1(kFilterXFile));
    if (!initialFolder.isEmpty()) dlg.setDirectory(initialFolder);

    auto applyFilter = [&dlg](const QString& filter) {
        if (filter != QLatin1String(kFilterAllFiles)) return;
        if (auto* model = dlg.findChild<QFileSystemModel*>())
            model->setNameFilters({QStringLiteral("*")});
    };
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, applyFilter);
}

std::optional<QString> CSettingsDlg::RunFileChooser(const QString& initialFolder) {
    QFileDialog dlg(this);
    PrepareFileChooser(dlg, initialFolder);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first();
}

void CSettingsDlg::OnXFileOpen() {
    // The file, not the text box, says where the last model was.
    const QString strFolder = GetPathFolder(ReadFileNameSetting());
    const QString initialFolder =
        strFolder.isEmpty()
            ? QString()
            : QFile::decodeName(Win32MapPath(QFile::encodeName(strFolder).constData()).c_str());

    const std::optional<QString> chosen = RunFileChooser(initialFolder);
    if (!chosen || chosen->isEmpty()) return;

    g_strPathName = *chosen;
    g_strFileName = QFileInfo(g_strPathName).fileName();
    setWindowTitle(g_strFileName);
    ShowText(m_editFile, g_strPathName);
    WritePrivateProfileStringA(SECTION_SETTING, KEY_FILENAME,
                               QFile::encodeName(g_strPathName).constData(), SETTINGS_FILE);
}

void CSettingsDlg::OnPreview() {
    ShellExecuteA(nullptr, "open", "Plumora.scr", nullptr, "C:\\windows", SW_SHOWNORMAL);
}

void CSettingsDlg::ReadColorSliders() {
    g_nColorR = m_sliderR->value();
    g_nColorG = m_sliderG->value();
    g_nColorB = m_sliderB->value();
}

void CSettingsDlg::ShowColorReadout() {
    // "R＝%d　G＝%d　B＝%d ": full-width equals signs, ideographic blanks and a
    // final ASCII blank.
    ShowText(m_editColor,
             QString::asprintf("R＝%d　G＝%d　B＝%d ", g_nColorR, g_nColorG, g_nColorB));
}

void CSettingsDlg::ShowSpeedReadout(int speed) {
    ShowText(m_editSpeed, QString::asprintf("%d ", speed));
}
