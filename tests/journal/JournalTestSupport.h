#pragma once
// Helpers shared by the notes and journal tests: a private settings file for
// the drafts, event-loop spinning, and a signed-in study service.

#include "APIClient.h"
#include "DraftStore.h"
#include "StudyService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

namespace journaltest {

inline bool spinUntil(const std::function<bool()>& done, int limitMs = 10000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return done();
}

inline void spinFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// The shared draft store on a fresh INI file for the life of the object.
class PrivateDrafts {
public:
    PrivateDrafts()
    {
        path_ = dir_.filePath(QStringLiteral("TavloPopup.conf"));
        DraftStore::setSharedFileForTesting(path_);
    }
    ~PrivateDrafts() { DraftStore::setSharedFileForTesting({}); }
    QString path() const { return path_; }
    DraftStore& store() { return DraftStore::shared(); }

private:
    QTemporaryDir dir_;
    QString path_;
};

// One study service per test binary, signed in as the demo account (which
// stores the token in the keyring).
class SignedInService {
public:
    static SignedInService& instance()
    {
        static SignedInService s;
        return s;
    }
    StudyService& svc() { return *svc_; }
    bool ok() const { return ok_; }

    // Fresh seed data and a fresh sign-in.
    void reseedAndLogin()
    {
        svc_->reseed();
        login();
    }

private:
    SignedInService() : svc_(std::make_unique<StudyService>())
    {
        qputenv("TAVLO_API_BASE_URL", svc_->baseURL().toUtf8());
        login();
    }
    void login()
    {
        std::optional<Result<void>> result;
        QObject context;
        APIClient::login(StudyService::demoEmail(), StudyService::demoPassword(), &context,
                         [&](Result<void> r) { result.emplace(std::move(r)); });
        spinUntil([&] { return result.has_value(); }, 15000);
        ok_ = result && result->ok();
        if (result && !result->ok())
            ADD_FAILURE() << "login failed: " << textForm(result->error()).toStdString();
    }
    std::unique_ptr<StudyService> svc_;
    bool ok_ = false;
};

} // namespace journaltest
