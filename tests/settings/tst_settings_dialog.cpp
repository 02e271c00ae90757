// Drives the settings dialog through its controls, keyboard and menus, and
// checks the settings file after every step.
#include "DialogTemplate.h"
#include "SettingsDlg.h"
#include "VersionInfoDlg.h"
#include "resource.h"
#include "settings_keys.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "win32ext.h"

namespace {

const QString kAboutItem = QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 (&A)...");

QString Readout(int r, int g, int b) {
    return QString::fromUtf8("R＝%1　G＝%2　B＝%3 ").arg(r).arg(g).arg(b);
}

// The dialog with its file chooser replaced and its handlers reachable.
class TestDlg : public CSettingsDlg {
  public:
    std::optional<QString> RunFileChooser(const QString& initialFolder) override {
        chooserFolders << initialFolder;
        if (useRealChooser) return CSettingsDlg::RunFileChooser(initialFolder);
        return nextChoice;
    }

    QSlider* slider(int id) const { return qobject_cast<QSlider*>(GetDlgItem(id)); }
    QLineEdit* edit(int id) const { return qobject_cast<QLineEdit*>(GetDlgItem(id)); }
    QRadioButton* radio(int id) const { return qobject_cast<QRadioButton*>(GetDlgItem(id)); }
    QPushButton* button(int id) const { return qobject_cast<QPushButton*>(GetDlgItem(id)); }

    QStringList chooserFolders;
    std::optional<QString> nextChoice;
    bool useRealChooser = false;
};

// Runs fn on the first widget of type W that becomes active (a popup menu or a
// modal dialog) while the caller is blocked in that widget's own loop. Polling
// ends with the owner, so a missed widget never leaks into the next test.
template <typename W>
void WhenActive(QObject* owner, std::function<void(W*)> fn, int triesLeft = 500) {
    QTimer::singleShot(10, owner, [owner, fn, triesLeft] {
        W* w = qobject_cast<W*>(QApplication::activePopupWidget());
        if (!w) w = qobject_cast<W*>(QApplication::activeModalWidget());
        if (w && w->isVisible())
            fn(w);
        else if (triesLeft > 0)
            WhenActive<W>(owner, fn, triesLeft - 1);
        else if (QWidget* stuck = QApplication::activeModalWidget())
            stuck->close(); // the test fails on its checks instead of hanging
    });
}

} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<TestDlg> m_dlg;

    QString iniPath() const { return m_config->path() + "/plumora/Mirel.ini"; }

    void writeIni(const QByteArray& text) {
        QDir().mkpath(m_config->path() + "/plumora");
        QFile f(iniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QByteArray iniBytes() const {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // What a slider's notification writes into a fresh file.
    static QByteArray sliderFile(int r, int g, int b, int speed) {
        return QString::asprintf(
                   "[SETTING]\nColorR=%d\nColorG=%d\nColorB=%d\n[SS_SECTION]\nSPEED=%d\n", r, g, b,
                   speed)
            .toUtf8();
    }

    TestDlg& open() {
        m_dlg = std::make_unique<TestDlg>();
        m_dlg->InitDialog();
        m_dlg->show();
        m_dlg->activateWindow();
        [[maybe_unused]] bool exposed = QTest::qWaitForWindowExposed(m_dlg.get());
        return *m_dlg;
    }

    QColor swatchColor() const {
        const QImage image = m_dlg->m_wndSwatch->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

  private slots:
    void init() {
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", m_config->path().toLocal8Bit());
        g_nColorR = g_nColorG = g_nColorB = 255;
        g_strPathName.clear();
        g_strFileName.clear();
    }

    void cleanup() {
        m_dlg.reset();
        m_config.reset();
    }

    // Closing without a change writes nothing, and Escape and Enter on a
    // slider close the dialog: the end-to-end runs of the program show those.
    void storedValuesAreShownClampedAndKeptUntilASliderMoves() {
        // Any shade but 0 is the wireframe; a long file name is read whole.
        const QString path = "/" + QString(300, 'm') + "/" + QString(200, 'n') + ".x";
        const struct {
            QByteArray file;
            int r, g, b, speed;
            bool wire;
            QString model;
        } cases[] = {{"", 255, 255, 255, 7, false, "C:\\XFile\\parasol.x"}, // the defaults
                     {"[SETTING]\nColorR=-4\nColorG=300\nColorB=128\nFILENAME=" + path.toUtf8() +
                          "\n[SS_SECTION]\nSPEED=12\nSHADE=-1\n",
                      0, 255, 128, 10, true, path}};
        for (const auto& c : cases) {
            if (!c.file.isEmpty()) writeIni(c.file);
            TestDlg& dlg = open();
            const int ids[] = {IDC_SLIDER_R, IDC_SLIDER_G, IDC_SLIDER_B, IDC_SLIDER_SPEED};
            const int values[] = {c.r, c.g, c.b, c.speed};
            for (int i = 0; i < 4; ++i)
                QCOMPARE(dlg.slider(ids[i])->value(), values[i]);
            QCOMPARE(dlg.edit(IDC_EDIT_COLOR)->text(), Readout(c.r, c.g, c.b));
            QCOMPARE(dlg.edit(IDC_EDIT_SPEED)->text(), QString("%1 ").arg(c.speed));
            QVERIFY(dlg.radio(c.wire ? IDC_RADIO_WIREFLAME : IDC_RADIO_SOLID)->isChecked());
            QCOMPARE(dlg.edit(IDC_EDIT_FILE)->text(), c.model);
            QCOMPARE(swatchColor(), QColor(c.r, c.g, c.b));
            QCOMPARE(iniBytes(), c.file);
        }
        QVERIFY(!m_dlg->m_hAppIcon.isNull() &&
                m_dlg->windowIcon().cacheKey() == m_dlg->m_hAppIcon.cacheKey());
        TestDlg& dlg = *m_dlg;

        // The speed slider alone writes the colours too, as shown.
        dlg.slider(IDC_SLIDER_SPEED)->setFocus();
        QTest::keyClick(dlg.slider(IDC_SLIDER_SPEED), Qt::Key_Left);
        QCOMPARE(iniBytes(), "[SETTING]\nColorR=0\nColorG=255\nColorB=128\nFILENAME=" +
                                 path.toUtf8() + "\n[SS_SECTION]\nSPEED=9\nSHADE=-1\n");
        QCOMPARE(dlg.edit(IDC_EDIT_SPEED)->text(), QString("9 "));
        // Only the swatch is coloured.
        QVERIFY(dlg.edit(IDC_EDIT_COLOR)->palette().color(QPalette::Base) != QColor(0, 255, 128));
    }

    void dragWritesAllFourKeysAtEveryNotification() {
        TestDlg& dlg = open();
        QSlider* green = dlg.slider(IDC_SLIDER_G);
        green->setSliderDown(true);
        for (int pos : {250, 130, 77}) {
            QFile::remove(iniPath());
            green->setSliderPosition(pos);
            QCOMPARE(iniBytes(), sliderFile(255, pos, 255, 7));
            QCOMPARE(dlg.edit(IDC_EDIT_COLOR)->text(), Readout(255, pos, 255));
            QCOMPARE(swatchColor(), QColor(255, pos, 255));
        }
        // The end of the drag is a notification of its own.
        QFile::remove(iniPath());
        green->setSliderDown(false);
        QCOMPARE(iniBytes(), sliderFile(255, 77, 255, 7));
    }

    void radioClicksWriteShadeEvenWhenAlreadySelected() {
        TestDlg& dlg = open();
        // The last click re-clicks the selected button.
        for (int id : {IDC_RADIO_WIREFLAME, IDC_RADIO_SOLID, IDC_RADIO_SOLID}) {
            QFile::remove(iniPath());
            QTest::mouseClick(dlg.radio(id), Qt::LeftButton);
            const bool wire = id == IDC_RADIO_WIREFLAME;
            QVERIFY(dlg.radio(IDC_RADIO_WIREFLAME)->isChecked() == wire &&
                    dlg.radio(IDC_RADIO_SOLID)->isChecked() == !wire);
            QCOMPARE(iniBytes(),
                     QByteArray(wire ? "[SS_SECTION]\nSHADE=1\n" : "[SS_SECTION]\nSHADE=0\n"));
        }
    }

    void chooserStartsWhereTheFileSaysAndItsChoiceIsShownAndWritten() {
        const std::pair<QString, QString> cases[] = {
            {"", QString::fromStdString(Win32MapPath("C:\\XFile\\"))}, // the default
            {"D:\\models/sub\\ship.x", QString::fromStdString(Win32MapPath("D:\\models/sub\\"))},
            {"/srv/models/ship.x", "/srv/models/"},
            {"/ship.x", "/"},
            {"ship.x", ""}}; // no separator
        TestDlg& dlg = open();
        for (const auto& [stored, folder] : cases) {
            // Changed behind the dialog's back: the file, not the text box, counts.
            if (!stored.isEmpty()) writeIni("[SETTING]\nFILENAME=" + stored.toUtf8() + "\n");
            QTest::mouseClick(dlg.button(IDC_XFILE_OPEN), Qt::LeftButton);
            QCOMPARE(dlg.chooserFolders.takeLast(), folder);
        }
        // Cancelled: nothing changes.
        QCOMPARE(dlg.windowTitle(), QString("Plumora"));

        QFile::remove(iniPath());
        dlg.nextChoice = m_config->path() + "/models/ship.x";
        QTest::mouseClick(dlg.button(IDC_XFILE_OPEN), Qt::LeftButton);
        QCOMPARE(dlg.windowTitle(), QString("ship.x"));
        QCOMPARE(dlg.edit(IDC_EDIT_FILE)->text(), *dlg.nextChoice);
        QCOMPARE(iniBytes(), "[SETTING]\nFILENAME=" + dlg.nextChoice->toUtf8() + "\n");
    }

    void realChooser() {
        const QString folder = m_config->path() + "/models";
        QDir().mkpath(folder);
        QFile(folder + "/boat.x").open(QIODevice::WriteOnly);
        {
            QFileDialog chooser;
            CSettingsDlg::PrepareFileChooser(chooser, folder + "/");
            QCOMPARE(chooser.nameFilters(), (QStringList{"XFile(*.x)", "AllFiles(*.*)"}));
            QCOMPARE(chooser.selectedNameFilter(), QString("XFile(*.x)"));
            auto* model = chooser.findChild<QFileSystemModel*>();
            emit chooser.filterSelected("AllFiles(*.*)");
            QCOMPARE(model->nameFilters(), QStringList{"*"}); // names without a dot too
        }
        writeIni("[SETTING]\nFILENAME=" + folder.toUtf8() + "/old.x\n");
        TestDlg& dlg = open();
        dlg.useRealChooser = true;
        QString shownFolder;
        WhenActive<QFileDialog>(&dlg, [&](QFileDialog* chooser) {
            shownFolder = chooser->directory().canonicalPath();
            // Typed into the name box, as a user would; the list below it fills
            // in later, from another thread.
            if (auto* nameBox = chooser->findChild<QLineEdit*>("fileNameEdit"))
                nameBox->setText(folder + "/boat.x");
            static_cast<QDialog*>(chooser)->accept();    // as its Open button does
            if (chooser->isVisible()) chooser->reject(); // fail, but never hang
        });
        QTest::mouseClick(dlg.button(IDC_XFILE_OPEN), Qt::LeftButton);
        QCOMPARE(shownFolder, QDir(folder).canonicalPath());
        QCOMPARE(g_strPathName, folder + "/boat.x");
        QCOMPARE(dlg.windowTitle(), QString("boat.x"));

        WhenActive<QFileDialog>(&dlg, [](QFileDialog* chooser) { chooser->reject(); });
        QTest::mouseClick(dlg.button(IDC_XFILE_OPEN), Qt::LeftButton);
        QCOMPARE(dlg.windowTitle(), QString("boat.x"));
        QCOMPARE(iniBytes(), "[SETTING]\nFILENAME=" + folder.toUtf8() + "/boat.x\n");
    }

    void enterPressesAButtonAndOkClosesLater() {
        // The keypad's Enter is Enter too.
        open().GetDlgItem(IDC_SWATCH)->setFocus();
        QTest::keyClick(m_dlg->GetDlgItem(IDC_SWATCH), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!m_dlg->isVisible());
        // Enter on a push button presses it instead.
        TestDlg& dlg = open();
        dlg.button(IDC_XFILE_OPEN)->setFocus();
        QTest::keyClick(dlg.button(IDC_XFILE_OPEN), Qt::Key_Return);
        QCOMPARE(dlg.chooserFolders.size(), 1);
        QVERIFY(dlg.isVisible());
        // "OK" posts a close request, handled like the close box.
        QTest::mouseClick(dlg.button(IDC_OK_BUTTON), Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        QTRY_VERIFY(!dlg.isVisible());
        QVERIFY(!QFile::exists(iniPath()));
    }

    void contextMenuOpensTheAboutBox() {
        for (bool keyboard : {false, true}) {
            TestDlg& dlg = open();
            QString lastItem;
            bool separatorBeforeItem = false, aboutShown = false;
            WhenActive<QMenu>(&dlg, [&](QMenu* menu) {
                const QList<QAction*> actions = menu->actions();
                lastItem = actions.isEmpty() ? QString() : actions.last()->text();
                separatorBeforeItem =
                    actions.size() >= 2 && actions[actions.size() - 2]->isSeparator();
                WhenActive<CVersionInfoDlg>(&dlg, [&](CVersionInfoDlg* about) {
                    aboutShown = about->isModal();
                    QTest::keyClick(about, Qt::Key_Return); // its OK is the default button
                });
                QTest::keyClick(menu, Qt::Key_A);
            });
            if (keyboard) {
                QTest::keyClick(dlg.slider(IDC_SLIDER_R), Qt::Key_F10, Qt::ShiftModifier);
            } else {
                // A right click on the dialog's background, below the group boxes.
                // Through the window, where the platform's right click becomes a
                // context-menu request.
                QTest::mouseClick(dlg.windowHandle(), Qt::RightButton, {},
                                  QPoint(dlg.width() / 2, dlg.height() - 3));
            }
            QCOMPARE(lastItem, kAboutItem);
            QVERIFY(separatorBeforeItem);
            QVERIFY(aboutShown);
            QVERIFY(QApplication::activeModalWidget() == nullptr);
            QVERIFY(dlg.isVisible());
        }
    }

    void tabOrderFollowsTheTemplate() {
        TestDlg& dlg = open();
        const QStringList expected = {"IDC_1011", "IDC_1012", "IDC_1013", "IDC_1014",
                                      "IDC_1015", "IDC_1016", "IDC_1017", "IDC_1021",
                                      "IDC_1024", "IDC_1007", "IDC_1025", "IDC_1011"};
        QStringList visited = {dlg.focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(dlg.focusWidget(), Qt::Key_Tab);
            visited << dlg.focusWidget()->objectName();
        }
        QCOMPARE(visited, expected); // the radio buttons and labels are no stops
    }

    void controlsAndGeometryFollowTheTemplate() {
        TestDlg& dlg = open();
        for (int id : {IDC_EDIT_COLOR, IDC_EDIT_SPEED, IDC_EDIT_FILE})
            QVERIFY(dlg.edit(id)->isReadOnly());
        QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        const DlgTemplate& tmpl = SettingsDialogTemplate();
        const QSize base = DialogBaseUnits(dlg.font());
        QCOMPARE(dlg.size(), MapDialogRect(QRect(0, 0, 169, 253), base).size());
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        const QRect client(QPoint(0, 0), dlg.size());
        for (std::size_t i = 0; i < tmpl.count; ++i) {
            const DlgItemTemplate& a = tmpl.items[i];
            QWidget* wa = dlg.findChild<QWidget*>(DlgItemName(a, i + 1));
            QVERIFY(wa);
            QVERIFY2(client.contains(wa->geometry()), qPrintable(wa->objectName()));
            const QRect want = MapDialogRect(QRect(a.x, a.y, a.cx, a.cy), base);
            QCOMPARE(wa->pos(), want.topLeft());
            QCOMPARE(wa->height(), want.height());
            if (a.kind == DlgItemKind::Static && !std::strchr(a.text, ' ')) {
                // One-word labels may run on so their last letters aren't cut.
                QVERIFY(wa->width() >= want.width());
                QVERIFY2(wa->width() >= wa->sizeHint().width(), a.text);
            } else {
                QCOMPARE(wa->width(), want.width());
            }
            for (std::size_t j = i + 1; j < tmpl.count; ++j) {
                const DlgItemTemplate& b = tmpl.items[j];
                if (QRect(a.x, a.y, a.cx, a.cy).intersects(QRect(b.x, b.y, b.cx, b.cy))) continue;
                QWidget* wb = dlg.findChild<QWidget*>(DlgItemName(b, j + 1));
                QVERIFY2(!wa->geometry().intersects(wb->geometry()),
                         qPrintable(wa->objectName() + " " + wb->objectName()));
            }
        }
        // Plain arithmetic of the conversion, rounded like the platform.
        QCOMPARE(MapDialogRect(QRect(10, 8, 4, 16), QSize(6, 13)), QRect(15, 13, 6, 26));
    }

    void japaneseTextsHaveGlyphs() {
        TestDlg& dlg = open();
        QCOMPARE(QFontInfo(dlg.font()).family(), QString("IPAPGothic"));
        QCOMPARE(dlg.font().pointSize(), 9);
        const QFontMetrics metrics(dlg.edit(IDC_EDIT_COLOR)->font());
        const QString texts = Readout(255, 255, 255) + kAboutItem;
        for (QChar c : texts)
            QVERIFY2(metrics.inFont(c), qPrintable(QString("U+%1").arg(c.unicode(), 4, 16)));
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "tst_settings_dialog.moc"
