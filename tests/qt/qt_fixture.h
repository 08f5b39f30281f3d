#pragma once
// A desktop widget set whose person answers from queues instead of modal
// dialogs, so tests never block on a message box.
#include "qtwidgetset.h"
#include "vcl/forms.h"

#include <QApplication>
#include <QWidget>

#include <deque>
#include <optional>
#include <string>
#include <vector>

class ScriptedQtWidgetSet : public QtWidgetSet {
public:
    using QtWidgetSet::QtWidgetSet;
    void ShowMessage(const std::string &text, MessageKind) override { messages.push_back(text); }
    std::optional<int> PickRow(const std::string &title, const PickTable &) override
    {
        picks.push_back(title);
        return std::nullopt;
    }
    std::optional<int> PickTreeRow(const std::string &title, const PickTable &t,
                                   const std::vector<PickTreeNode> &) override
    {
        return PickRow(title, t);
    }

    std::vector<std::string> messages;
    std::vector<std::string> picks;
};

inline ScriptedQtWidgetSet &InstallScripted(QMdiArea *area = nullptr)
{
    SetWidgetSet(std::make_unique<ScriptedQtWidgetSet>(area));
    return static_cast<ScriptedQtWidgetSet &>(WidgetSet());
}

// Runs deferred work: focus requests and widgets deleted later.
inline void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

template <class W = QWidget>
W *WidgetFor(const TControl &c)
{
    return qobject_cast<W *>(QtWidgetSet::WidgetOf(c));
}
