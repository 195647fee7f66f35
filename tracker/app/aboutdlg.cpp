#include "aboutdlg.h"

#include "ccwbutton.h"
#include "ui_aboutdlg.h"

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CAboutDlg>())
{
    m_ui->setupUi(this);
    setFixedSize(size());
    // The indicator sits where the form keeps its place.
    auto *led = new CCWButton(this);
    led->setObjectName(QStringLiteral("aboutLed"));
    led->setLed(true);
    led->setGeometry(m_ui->ledPlace->geometry());
    m_ui->ledPlace->hide();
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
