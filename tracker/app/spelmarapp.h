#pragma once

class QApplication;

// The application object: shows the main window modally and ends the
// program when it closes. There is no event loop after the window.
class CSpelmarApp
{
public:
    explicit CSpelmarApp(QApplication &application);

    // Returns the process exit status.
    int initInstance();

private:
    QApplication &m_application;
};
