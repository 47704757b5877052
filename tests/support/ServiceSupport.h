#pragma once
// Driving the asynchronous backend calls from a test: the result of one call,
// its error cases, and the one signed-in study service of a test binary.
#include "TestSupport.h"

#include "api/APIClient.h"
#include "api/KeychainService.h"
#include "api/Result.h"
#include "StudyService.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

// Starts `call` with a callback and runs the event loop until it fired (or
// `limitMs` passed, which fails the test); a second delivery fails it too.
template <class T>
std::optional<Result<T>> await(const std::function<void(Callback<T>)>& call, int limitMs = 20000)
{
    std::optional<Result<T>> result;
    int calls = 0;
    call([&](Result<T> r) {
        ++calls;
        result.emplace(std::move(r));
    });
    waitUntil([&] { return result.has_value(); }, limitMs);
    QCoreApplication::processEvents();
    EXPECT_TRUE(result.has_value()) << "no callback within " << limitMs << " ms";
    EXPECT_LE(calls, 1) << "callback ran more than once";
    return result;
}

inline std::string str(const QString& s) { return s.toStdString(); }

template <class T>
std::string describe(const std::optional<Result<T>>& r)
{
    if (!r)
        return "no result";
    return r->ok() ? "ok" : textForm(r->error()).toStdString();
}

template <class E, class T>
const E* errorOf(const std::optional<Result<T>>& r)
{
    return r && !r->ok() ? std::get_if<E>(&r->error()) : nullptr;
}
template <class T> const APIError* apiErrorOf(const std::optional<Result<T>>& r) { return errorOf<APIError>(r); }
template <class T> const TransportError* transportErrorOf(const std::optional<Result<T>>& r) { return errorOf<TransportError>(r); }
template <class T> const DecodeError* decodeErrorOf(const std::optional<Result<T>>& r) { return errorOf<DecodeError>(r); }

// Signs in through the client (which stores token and credentials in the keyring).
inline bool signInThroughClient(const QString& email = StudyService::demoEmail(),
                                const QString& password = StudyService::demoPassword())
{
    const auto result = await<void>([&](Callback<void> done) { APIClient::login(email, password, nullptr, done); });
    if (result && !result->ok())
        ADD_FAILURE() << "login failed: " << textForm(result->error()).toStdString();
    return result && result->ok();
}

// One study service per test binary with the client pointed at it.
class SignedInService {
public:
    static SignedInService& instance()
    {
        static SignedInService s;
        return s;
    }
    StudyService& svc() { return *svc_; }
    bool ok() const { return ok_; }

    // Fresh seed data and a fresh sign-in of the demo account.
    void reseedAndLogin()
    {
        svc_->reseed();
        ok_ = signInThroughClient();
    }

private:
    SignedInService() : svc_(std::make_unique<StudyService>())
    {
        qputenv("TAVLO_API_BASE_URL", svc_->baseURL().toUtf8());
        ok_ = signInThroughClient();
    }
    std::unique_ptr<StudyService> svc_;
    bool ok_ = false;
};

// A test suite on one study service, with fresh demo data and an empty
// keyring around every test; nobody is signed in.
class ServiceFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { service = new StudyService(); }
    static void TearDownTestSuite()
    {
        delete service;
        service = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(service->isRunning());
        qputenv("TAVLO_API_BASE_URL", service->baseURL().toUtf8());
        KeychainService::clearAll();
        service->reseed();
    }
    void TearDown() override { KeychainService::clearAll(); }

    static inline StudyService* service = nullptr;
};
