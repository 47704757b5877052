#pragma once
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

struct Credentials {
    QString email;
    QString password;
};

// The three secrets of the signed-in account in the Secret Service, under the
// service name "com.tavlo.popup". Synchronous; failures show only as absent values.
// Every keyring call is bounded (Timing::keyringCall; after a time-out the
// keyring is left alone for Timing::keyringBackOff): a missing or hung
// keyring daemon gives absent values, never a frozen agent. Callable from
// any thread. A locked default collection is unlocked through the desktop's
// prompt before a read or a store, waiting up to Timing::keyringUnlock for
// the learner's answer, but never on the GUI thread (there it stays locked
// and values are absent). After a dismissed prompt, reads do not ask again
// for Timing::keyringPromptPause; a store does.
namespace KeychainService {

void saveAccessToken(const QString& token);
std::optional<QString> getAccessToken();
void saveCredentials(const QString& email, const QString& password);
std::optional<Credentials> getCredentials();
void clearAll();
// clearAll() for the GUI thread: the account is forgotten in this process at
// once (reads give nothing, sign-ins begun before are refused) and its items
// are removed on a thread of their own; `done` runs there afterwards.
void clearAllInBackground(std::function<void()> done = {});
// Whether a token is stored, as far as this process knows without a keyring
// call (a token read, saved or cleared here); empty when only a read can tell.
std::optional<bool> knownTokenPresence();

// Bumped by every clearAll(); work that began before a clear compares it
// before storing anything.
std::uint64_t generation();

// Stores credentials and token of a sign-in that began at `startGeneration`,
// unless a clearAll() came in between (then nothing is stored and it returns
// false). A clearAll() running at the same time waits for the store to end,
// so the clear always wins.
bool saveLoginIfCurrent(std::uint64_t startGeneration, const QString& email, const QString& password,
                        const QString& token);

// Forgets an earlier time-out (after one, calls give absent values at once
// for a while) and a dismissed unlock prompt, so the next call goes to the
// keyring again.
void retryNow();
// Drops the in-memory token, so the next read goes to the keyring.
void forgetCachedToken();
// Names another file for the keyring library; only a call made before the
// first keyring call of the process counts.
void setLibraryFile(const QString& fileName);
// Runs `hook` inside getAccessToken, after the keyring was read and before
// the cache is filled (nullptr removes it).
void setAfterLoadHook(void (*hook)());

} // namespace KeychainService
