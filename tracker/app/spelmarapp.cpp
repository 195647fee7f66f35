#include "spelmarapp.h"

#include "spelmardlg.h"

#include <QApplication>

CSpelmarApp::CSpelmarApp(QApplication &application)
    : m_application(application)
{
}

int CSpelmarApp::initInstance()
{
    CSpelmarDlg dialog(nullptr, nullptr, CSpelmarDlg::UpdateLibrary::Load);
    dialog.exec();
    return 0;
}
