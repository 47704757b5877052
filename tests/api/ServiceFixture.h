#pragma once
// One development study service for a whole test suite, with the client
// pointed at it, fresh demo data and an empty keyring around every test.

#include "APIClient.h"
#include "KeychainService.h"
#include "StudyService.h"

#include <gtest/gtest.h>

namespace apitest {

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
        APIClient::setTimeoutScaleForTesting(1.0);
        KeychainService::clearAll();
        service->reseed();
    }
    void TearDown() override
    {
        APIClient::setTimeoutScaleForTesting(1.0);
        KeychainService::clearAll();
    }

    static inline StudyService* service = nullptr;
};

} // namespace apitest
