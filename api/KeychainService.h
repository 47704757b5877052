#pragma once
#include <QString>

#include <cstdint>
#include <optional>

struct Credentials {
    QString email;
    QString password;
};

// The three secrets of the signed-in account in the Secret Service, under the
// service name "com.tavlo.popup". Synchronous; failures show only as absent values.
namespace KeychainService {

void saveAccessToken(const QString& token);
std::optional<QString> getAccessToken();
void saveCredentials(const QString& email, const QString& password);
std::optional<Credentials> getCredentials();
void clearAll();

// Bumped by every clearAll(); work that began before a clear compares it
// before storing anything.
std::uint64_t generation();

} // namespace KeychainService
