#pragma once
// What the learner sees of the agent: the popup panels on screen.
#include "app/PopupPanel.h"

#include <QApplication>
#include <QStringList>

// The view class of every visible panel.
inline QStringList shownPanels()
{
    QStringList out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<PopupPanel*>(w); p && p->isVisible())
            out << QString::fromLatin1(p->content()->metaObject()->className());
    return out;
}
