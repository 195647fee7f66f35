#pragma once

#include <QWidget>

// The named child of a window; a test without it cannot go on.
template <typename T = QWidget>
T *child(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}
