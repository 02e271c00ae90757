// Dialog templates of the settings program, and their realisation as Qt
// widgets: controls in template order (which is also the tab order), sizes in
// dialog units converted with the dialog font's metrics.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstddef>

class QDialog;
class QWidget;

enum class DlgItemKind {
    Static,       // left-aligned static text, starts a group
    Icon,         // static picture showing the application icon
    RadioButton,  // automatic radio button, no tab stop
    GroupBox,     // frame with an optional caption, no tab stop
    Slider,       // horizontal trackbar without ticks, tab stop
    ReadOnlyEdit, // bordered, read-only, scrolls sideways, tab stop
    Edit,         // bordered, editable, scrolls sideways, tab stop
    PushButton,   // plain push button, tab stop, not default
    DefPushButton // default push button, tab stop
};

struct DlgItemTemplate {
    DlgItemKind kind;
    int id;           // IDC_STATIC for controls the program never addresses
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
};

struct DlgTemplate {
    int id;
    const char* title;    // UTF-8
    int cx, cy;           // client size in dialog units
    const char* faceName; // the template's font
    int pointSize;
    const DlgItemTemplate* items;
    std::size_t count;
};

// Template 102, the main dialog, and template 100, the about box.
const DlgTemplate& SettingsDialogTemplate();
const DlgTemplate& AboutBoxTemplate();

// The application icon (IDR_MAINFRAME): 32 x 32, 24-bit colour.
inline constexpr char kAppIconResource[] = ":/icon/quenset.png";

// String resources (e.g. IDS_ABOUTBOX); empty for an unknown ID.
QString LoadResString(unsigned id);

// The face that stands in for the templates' Japanese proportional gothic, so
// that Japanese texts render as glyphs on Linux.
inline constexpr char kTemplateFaceSubstitute[] = "IPAPGothic";

// The template's font, with its face mapped to the substitute.
QFont TemplateFont(const DlgTemplate& tmpl);

// Dialog base units of a font, as the platform computes them for a dialog's
// font: the average width of the Latin letters and the line height, in pixels.
// One horizontal dialog unit is a quarter of the first, one vertical unit an
// eighth of the second.
QSize DialogBaseUnits(const QFont& font);
QRect MapDialogRect(const QRect& dialogUnits, QSize baseUnits);

// Object name of a control: "IDC_<id>", or "IDC_STATIC_<position>" (1-based
// template position) for controls without an ID.
QString DlgItemName(const DlgItemTemplate& item, std::size_t position);

// Creates the template's controls as children of the dialog in template order,
// sizes the dialog, sets its title and font, and chains the tab stops.
void CreateDialogIndirect(QDialog* dlg, const DlgTemplate& tmpl);
