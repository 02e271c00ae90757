#include "VersionInfoDlg.h"

#include "DialogTemplate.h"

#include <QPushButton>

CVersionInfoDlg::CVersionInfoDlg(QWidget* pParent) : QDialog(pParent) {
    CreateDialogIndirect(this, AboutBoxTemplate());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (auto* ok = findChild<QPushButton*>(QStringLiteral("IDC_1")))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CVersionInfoDlg::~CVersionInfoDlg() = default;

int CVersionInfoDlg::DoModal() {
    return exec();
}
