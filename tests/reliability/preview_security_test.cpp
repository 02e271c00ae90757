// The settings program's preview starts the saver and hands it nothing from the
// settings file: with FILENAME full of shell syntax, the program it starts gets
// exactly "/S" and nothing the text names is run.
#include "SettingsDlg.h"
#include "resource.h"
#include "settings_keys.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "win32ext.h"

class PreviewSecurityTest : public QObject {
    Q_OBJECT

  private slots:
    void previewPassesNothingFromTheSettings() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString programs = root.path() + "/windows";
        const QString config = root.path() + "/config";
        QVERIFY(QDir().mkpath(programs) && QDir().mkpath(config + "/plumora"));
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", root.path().toLocal8Bit());
        Win32TestSetProgramDir(programs.toLocal8Bit().constData());

        // A stand-in saver that records its arguments, one per line.
        const QString report = root.path() + "/report";
        QFile saver(programs + "/Plumora.scr");
        QVERIFY(saver.open(QIODevice::WriteOnly));
        saver.write(QByteArray("#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > '") +
                    report.toLocal8Bit() + ".tmp'\nmv '" + report.toLocal8Bit() + ".tmp' '" +
                    report.toLocal8Bit() + "'\n");
        saver.close();
        saver.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QString marker = root.path() + "/X";
        QFile ini(config + "/plumora/Mirel.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(("[SETTING]\nFILENAME=$(touch " + marker + ");`touch " + marker + "`|touch " +
                   marker + " \"'\n")
                      .toLocal8Bit());
        ini.close();

        CSettingsDlg dlg;
        dlg.InitDialog();
        dlg.show();
        auto* preview = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_PREVIEW));
        QVERIFY(preview);
        QTest::mouseClick(preview, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 10000);
        QFile got(report);
        QVERIFY(got.open(QIODevice::ReadOnly));
        QCOMPARE(got.readAll(), QByteArray("</S>"));
        QVERIFY(!QFile::exists(marker));
        Win32TestSetProgramDir(nullptr);
    }
};

QTEST_MAIN(PreviewSecurityTest)
#include "preview_security_test.moc"
