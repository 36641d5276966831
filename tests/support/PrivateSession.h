#pragma once

#include <QByteArray>
#include <QString>

namespace jw::test {

// Set by scripts/run-headless.sh to the address of the private session bus it started.
inline constexpr const char* kSessionMarker = "JW_HEADLESS_SESSION_BUS";
// Set by a test, inside that session, for a child it runs on a bus the test started itself.
inline constexpr const char* kOwnBusMarker = "JW_TEST_OWN_BUS";

// Whether this process may write a keyring: it runs inside the headless runner's private session
// and its session bus is the runner's or one a test started there. A developer's desktop session
// never qualifies, so no test can reach the keyring that holds their real token.
bool insidePrivateSession();

// Outside the private session, points the session bus at nowhere, so that even a test that forgot
// its guard finds no keyring. Called once, before anything connects to the bus.
void cutSessionBusOutsidePrivateSession();

inline const QString kRefusal =
    QStringLiteral("Refused: this test writes the keyring and runs only inside scripts/run-headless.sh");

} // namespace jw::test

// Stops the calling test (or SetUp) unless it runs inside the private session.
#define JW_REQUIRE_PRIVATE_SESSION()                                                                                   \
    ASSERT_TRUE(::jw::test::insidePrivateSession()) << ::jw::test::kRefusal.toStdString()
