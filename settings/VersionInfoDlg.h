// The about box (template 100): modal, with no behaviour of its own.
#pragma once

#include "resource.h"

#include <QDialog>

class CVersionInfoDlg : public QDialog {
    Q_OBJECT
  public:
    enum { IDD = IDD_ABOUTBOX };

    explicit CVersionInfoDlg(QWidget* pParent = nullptr);
    ~CVersionInfoDlg() override;

    int DoModal();
};
