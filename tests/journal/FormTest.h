#pragma once
// One journal form driven through its widgets under the offscreen platform,
// against the signed-in local study service: its widgets by object name and
// the requests the service received.
#include "ServiceSupport.h"

#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>

template <class Form>
class FormTest : public ::testing::Test {
protected:
    static StudyService& svc() { return SignedInService::instance().svc(); }

    // A fresh form in `view`, shown and active.
    void open()
    {
        view.reset();
        view = std::make_unique<Form>([this] { ++dismissals; });
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }
    template <class W = QWidget>
    W* child(const char* name, QWidget* in = nullptr) const
    {
        W* w = (in ? in : view.get())->template findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool shown(const char* name) const { return child(name)->isVisible(); }
    bool enabled(const char* name) const { return child(name)->isEnabled(); }
    bool checked(const char* name) const { return child<QPushButton>(name)->isChecked(); }
    void click(const char* name) const { QTest::mouseClick(child(name), Qt::LeftButton); }
    QString text(const char* label) const { return shown(label) ? child<QLabel>(label)->text() : QString(); }

    // The bodies of the requests whose method and path start as given.
    static QList<QJsonObject> bodies(const QString& method, const QString& pathPrefix)
    {
        QList<QJsonObject> out;
        for (const QJsonValue& r : svc().requests())
            if (r["method"].toString() == method && r["path"].toString().startsWith(pathPrefix))
                out.append(QJsonDocument::fromJson(r["body"].toString().toUtf8()).object());
        return out;
    }

    int dismissals = 0;
    std::unique_ptr<Form> view;
};
