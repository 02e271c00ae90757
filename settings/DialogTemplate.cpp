#include "DialogTemplate.h"

#include "resource.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The face named by the templates.
constexpr char kTemplateFace[] = "ＭＳ Ｐゴシック";

// Template 102. Rectangles are x, y, width, height in dialog units.
constexpr DlgItemTemplate kSettingsItems[] = {
    {DlgItemKind::Static, IDC_STATIC, "R", 20, 80, 8, 10},
    {DlgItemKind::Static, IDC_STATIC, "G", 20, 100, 8, 10},
    {DlgItemKind::Static, IDC_STATIC, "B", 20, 120, 8, 15},
    {DlgItemKind::Static, IDC_STATIC, "Speed", 15, 150, 25, 10},
    {DlgItemKind::RadioButton, IDC_RADIO_SOLID, "Solid", 55, 175, 45, 15},
    {DlgItemKind::RadioButton, IDC_RADIO_WIREFLAME, "Wireflame", 55, 190, 45, 15},
    {DlgItemKind::Static, IDC_STATIC, "Rendering", 15, 185, 30, 15},
    {DlgItemKind::GroupBox, IDC_STATIC, "Color", 10, 40, 145, 95},
    {DlgItemKind::GroupBox, IDC_STATIC, "", 10, 140, 145, 30},
    {DlgItemKind::GroupBox, IDC_STATIC, "", 10, 170, 145, 40},
    {DlgItemKind::Slider, IDC_SLIDER_R, "Slider1", 35, 75, 75, 15},
    {DlgItemKind::Slider, IDC_SLIDER_G, "Slider1", 35, 95, 75, 15},
    {DlgItemKind::Slider, IDC_SLIDER_B, "Slider1", 35, 115, 75, 15},
    {DlgItemKind::Slider, IDC_SLIDER_SPEED, "Slider1", 35, 145, 75, 15},
    {DlgItemKind::ReadOnlyEdit, IDC_EDIT_COLOR, "", 35, 55, 85, 15},
    {DlgItemKind::ReadOnlyEdit, IDC_EDIT_SPEED, "", 120, 150, 25, 15},
    {DlgItemKind::Static, IDC_STATIC, "Plumora Version 2.2", 5, 240, 155, 10},
    {DlgItemKind::PushButton, IDC_OK_BUTTON, "OK", 111, 215, 42, 20},
    {DlgItemKind::Edit, IDC_SWATCH, "", 115, 85, 35, 40},
    {DlgItemKind::PushButton, IDC_XFILE_OPEN, "X-File Open", 105, 10, 45, 20},
    {DlgItemKind::ReadOnlyEdit, IDC_EDIT_FILE, "", 15, 10, 85, 15},
    {DlgItemKind::GroupBox, IDC_STATIC, "File", 10, 0, 145, 35},
    {DlgItemKind::PushButton, IDC_PREVIEW, "Preview", 62, 215, 41, 19},
};

// Template 100: a small about box of our own.
constexpr DlgItemTemplate kAboutItems[] = {
    {DlgItemKind::Icon, IDR_MAINFRAME, "", 11, 14, 20, 20},
    {DlgItemKind::Static, IDC_STATIC, "Quenset Version 2.2", 40, 10, 119, 8},
    {DlgItemKind::Static, IDC_STATIC, "Plumora スクリーンセーバの設定", 40, 25, 119, 8},
    {DlgItemKind::DefPushButton, 1 /* IDOK */, "OK", 178, 7, 50, 14},
};

const DlgTemplate kSettingsTemplate = {
    IDD_PLUMORA_DIALOG,       "Plumora", 169, 253, kTemplateFace, 9, kSettingsItems,
    std::size(kSettingsItems)};

const DlgTemplate kAboutTemplate = {
    IDD_ABOUTBOX, "Quenset のバージョン情報", 235, 42, kTemplateFace, 9,
    kAboutItems,  std::size(kAboutItems)};

bool TakesTabStop(DlgItemKind kind) {
    switch (kind) {
    case DlgItemKind::Slider:
    case DlgItemKind::ReadOnlyEdit:
    case DlgItemKind::Edit:
    case DlgItemKind::PushButton:
    case DlgItemKind::DefPushButton:
        return true;
    default:
        return false;
    }
}

bool TextHasSpace(const char* text) {
    return std::strchr(text, ' ') != nullptr;
}

QWidget* CreateDlgItem(const DlgItemTemplate& item, QDialog* parent) {
    const QString text = QString::fromUtf8(item.text);
    switch (item.kind) {
    case DlgItemKind::Static: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        label->setFocusPolicy(Qt::NoFocus);
        return label;
    }
    case DlgItemKind::Icon: {
        auto* label = new QLabel(parent);
        label->setPixmap(QIcon(QLatin1String(kAppIconResource)).pixmap(32, 32));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case DlgItemKind::RadioButton: {
        auto* radio = new QRadioButton(text, parent);
        // No tab stop: reached with the mouse, which still gives it the focus.
        radio->setFocusPolicy(Qt::ClickFocus);
        radio->setAutoExclusive(true);
        return radio;
    }
    case DlgItemKind::GroupBox: {
        auto* box = new QGroupBox(text, parent);
        box->setFocusPolicy(Qt::NoFocus);
        // Only a frame: clicks inside it belong to the controls it surrounds.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        return box;
    }
    case DlgItemKind::Slider: {
        // The template's text ("Slider1") is never shown by a trackbar.
        auto* slider = new QSlider(Qt::Horizontal, parent);
        slider->setTickPosition(QSlider::NoTicks);
        slider->setFocusPolicy(Qt::StrongFocus);
        return slider;
    }
    case DlgItemKind::ReadOnlyEdit:
    case DlgItemKind::Edit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly(item.kind == DlgItemKind::ReadOnlyEdit);
        edit->setFrame(true);
        edit->setFocusPolicy(Qt::StrongFocus);
        return edit;
    }
    case DlgItemKind::PushButton:
    case DlgItemKind::DefPushButton: {
        auto* button = new QPushButton(text, parent);
        const bool isDefault = item.kind == DlgItemKind::DefPushButton;
        button->setAutoDefault(isDefault);
        button->setDefault(isDefault);
        button->setFocusPolicy(Qt::StrongFocus);
        return button;
    }
    }
    return nullptr;
}

} // namespace

const DlgTemplate& SettingsDialogTemplate() {
    return kSettingsTemplate;
}
const DlgTemplate& AboutBoxTemplate() {
    return kAboutTemplate;
}

QString LoadResString(unsigned id) {
    switch (id) {
    case IDS_ABOUTBOX:
        return QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 (&A)...");
    default:
        return QString();
    }
}

QFont TemplateFont(const DlgTemplate& tmpl) {
    const QString face = QString::fromUtf8(tmpl.faceName);
    if (!QFont::substitutes(face).contains(QLatin1String(kTemplateFaceSubstitute)))
        QFont::insertSubstitution(face, QLatin1String(kTemplateFaceSubstitute));
    QFont font(face, tmpl.pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    // The average width is taken over the Latin alphabet and rounded as the
    // platform does for dialog fonts; a CJK font's own average (its OS/2
    // figure) is narrower than its Latin letters, and texts would be cut.
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((alphabet / 26 + 1) / 2, metrics.height());
}

QRect MapDialogRect(const QRect& du, QSize base) {
    // Rounded as the platform's MulDiv does.
    auto mulDiv = [](int value, int numerator, int denominator) {
        const long long product = static_cast<long long>(value) * numerator;
        return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) /
                                denominator);
    };
    const int left = mulDiv(du.x(), base.width(), 4);
    const int top = mulDiv(du.y(), base.height(), 8);
    const int right = mulDiv(du.x() + du.width(), base.width(), 4);
    const int bottom = mulDiv(du.y() + du.height(), base.height(), 8);
    return QRect(left, top, right - left, bottom - top);
}

QString DlgItemName(const DlgItemTemplate& item, std::size_t position) {
    if (item.id == IDC_STATIC) return QStringLiteral("IDC_STATIC_%1").arg(position);
    return QStringLiteral("IDC_%1").arg(item.id);
}

void CreateDialogIndirect(QDialog* dlg, const DlgTemplate& tmpl) {
    const QFont font = TemplateFont(tmpl);
    dlg->setFont(font);
    dlg->setWindowTitle(QString::fromUtf8(tmpl.title));
    const QSize base = DialogBaseUnits(font);
    dlg->setFixedSize(MapDialogRect(QRect(0, 0, tmpl.cx, tmpl.cy), base).size());

    std::vector<QWidget*> tabStops;
    std::vector<QWidget*> frames;
    for (std::size_t i = 0; i < tmpl.count; ++i) {
        const DlgItemTemplate& item = tmpl.items[i];
        QWidget* control = CreateDlgItem(item, dlg);
        control->setObjectName(DlgItemName(item, i + 1));
        QRect rect = MapDialogRect(QRect(item.x, item.y, item.cx, item.cy), base);
        // A one-word label wider in this font than in the template's would lose its
        // last letters; let it run on into the empty space beside it.
        if (item.kind == DlgItemKind::Static && !TextHasSpace(item.text))
            rect.setWidth(std::max(rect.width(), control->sizeHint().width()));
        control->setGeometry(rect);
        if (TakesTabStop(item.kind)) tabStops.push_back(control);
        if (item.kind == DlgItemKind::GroupBox) frames.push_back(control);
    }
    // Frames lie beneath everything they surround.
    for (QWidget* frame : frames)
        frame->lower();
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1], tabStops[i]);
}
