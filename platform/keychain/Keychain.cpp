// clang-format off
// libsecret (GLib) before any Qt header: Qt's keyword macros clash with GLib's names.
#include <libsecret/secret.h>
// clang-format on

#include "platform/keychain/Keychain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFileInfo>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <variant>

namespace jw {
namespace {

const char* const kAttribute = "account";
const char* const kServiceName = "org.freedesktop.secrets";

const SecretSchema* schema()
{
    static const QByteArray name = Keychain::kSchemaName.toUtf8();
    static const SecretSchema s = {
        name.constData(),
        SECRET_SCHEMA_NONE,
        {{kAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr};
    return &s;
}

struct GErrorFree
{
    void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// One thread for every keyring call the GUI hands over, so calls keep their order (a save
// handed over after a load finishes after it) and a call waiting on a prompt holds up only the
// calls behind it. Never destroyed, nor joined: a call may still wait on a prompt at exit.
class KeyringThread
{
public:
    static KeyringThread& instance()
    {
        static KeyringThread* const thread = new KeyringThread;
        return *thread;
    }

    void post(std::function<void()> work)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(work));
        }
        m_wake.notify_one();
    }

private:
    KeyringThread()
    {
        std::thread([this] {
            pthread_setname_np(pthread_self(), "jw-keyring");
            for (;;) {
                std::function<void()> work;
                {
                    std::unique_lock lock(m_mutex);
                    m_wake.wait(lock, [this] { return !m_queue.empty(); });
                    work = std::move(m_queue.front());
                    m_queue.pop_front();
                }
                work();
            }
        }).detach();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
};

int statusFor(const GError* error)
{
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_IS_LOCKED:
            return KeychainStatus::interactionNotAllowed;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return KeychainStatus::itemNotFound;
        case SECRET_ERROR_ALREADY_EXISTS:
            return KeychainStatus::duplicateItem;
        default:
            return KeychainStatus::internalComponent;
        }
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        return KeychainStatus::notAvailable;
    return KeychainStatus::internalComponent;
}

// success when the Secret Service is running on the session bus; notAvailable otherwise, without
// starting a bus or the service.
int serviceStatus()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) {
        // GLib would otherwise fall back to autolaunching a bus of its own.
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus")))
            return KeychainStatus::notAvailable;
    }
    GError* raw = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    ErrorPtr error(raw);
    if (!bus)
        return KeychainStatus::notAvailable;
    // The shared connection (libsecret's too) would otherwise end the process when the bus goes.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    raw = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus,
                                                  "org.freedesktop.DBus",
                                                  "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus",
                                                  "NameHasOwner",
                                                  g_variant_new("(s)", kServiceName),
                                                  G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  2000,
                                                  nullptr,
                                                  &raw);
    error.reset(raw);
    g_object_unref(bus);
    if (!reply)
        return KeychainStatus::notAvailable;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned ? KeychainStatus::success : KeychainStatus::notAvailable;
}

GHashTable* attributesFor(const QByteArray& account)
{
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>(kAttribute), const_cast<char*>(account.constData()));
    return attributes;
}

} // namespace

Keychain::Lookup Keychain::copyMatching(const QString& account)
{
    if (const int status = serviceStatus(); status != KeychainStatus::success)
        return {status, {}};
    const QByteArray accountBytes = account.toUtf8();
    GHashTable* attributes = attributesFor(accountBytes);
    GError* raw = nullptr;
    SecretValue* value = secret_password_lookupv_binary_sync(schema(), attributes, nullptr, &raw);
    g_hash_table_unref(attributes);
    ErrorPtr error(raw);
    if (error)
        return {statusFor(error.get()), {}};
    if (!value)
        return {KeychainStatus::itemNotFound, {}};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    Lookup result{KeychainStatus::success, QByteArray(bytes, static_cast<qsizetype>(length))};
    secret_value_unref(value);
    return result;
}

int Keychain::store(const QString& account, const QByteArray& data, const QString& label)
{
    if (const int status = serviceStatus(); status != KeychainStatus::success)
        return status;
    const QByteArray accountBytes = account.toUtf8();
    const QByteArray labelBytes = label.toUtf8();
    GHashTable* attributes = attributesFor(accountBytes);
    SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError* raw = nullptr;
    const gboolean stored = secret_password_storev_binary_sync(schema(),
                                                               attributes,
                                                               SECRET_COLLECTION_DEFAULT,
                                                               labelBytes.constData(),
                                                               value,
                                                               nullptr,
                                                               &raw);
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    ErrorPtr error(raw);
    if (error)
        return statusFor(error.get());
    return stored ? KeychainStatus::success : KeychainStatus::interactionNotAllowed;
}

int Keychain::deleteItem(const QString& account)
{
    if (const int status = serviceStatus(); status != KeychainStatus::success)
        return status;
    const QByteArray accountBytes = account.toUtf8();
    GHashTable* attributes = attributesFor(accountBytes);
    GError* raw = nullptr;
    const gboolean cleared = secret_password_clearv_sync(schema(), attributes, nullptr, &raw);
    g_hash_table_unref(attributes);
    ErrorPtr error(raw);
    if (error)
        return statusFor(error.get());
    return cleared ? KeychainStatus::success : KeychainStatus::itemNotFound;
}

namespace {

// The Secret Service without opening a session or loading collections, so nothing prompts; or
// the status that kept it out of reach.
std::variant<SecretService*, int> quietService()
{
    if (const int status = serviceStatus(); status != KeychainStatus::success)
        return status;
    GError* raw = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw);
    const ErrorPtr error(raw);
    if (!service)
        return error ? statusFor(error.get()) : KeychainStatus::notAvailable;
    return service;
}

} // namespace

int Keychain::probe(const QString& account)
{
    const auto reached = quietService();
    if (const int* status = std::get_if<int>(&reached))
        return *status;
    SecretService* service = std::get<SecretService*>(reached);
    const QByteArray accountBytes = account.toUtf8();
    GHashTable* attributes = attributesFor(accountBytes);
    GError* raw = nullptr;
    // Without the unlock flag a search lists locked items too and never prompts.
    GList* items = secret_service_search_sync(service, schema(), attributes, SECRET_SEARCH_ALL, nullptr, &raw);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    const ErrorPtr error(raw);
    if (error)
        return statusFor(error.get());
    if (!items)
        return KeychainStatus::itemNotFound;
    bool unlocked = false;
    for (GList* item = items; item; item = item->next)
        unlocked = unlocked || !secret_item_get_locked(SECRET_ITEM(item->data));
    g_list_free_full(items, g_object_unref);
    return unlocked ? KeychainStatus::success : KeychainStatus::interactionRequired;
}

int Keychain::probeStore()
{
    const auto reached = quietService();
    if (const int* status = std::get_if<int>(&reached))
        return *status;
    SecretService* service = std::get<SecretService*>(reached);
    GError* raw = nullptr;
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw);
    g_object_unref(service);
    const ErrorPtr error(raw);
    if (error)
        return statusFor(error.get());
    if (!collection)
        return KeychainStatus::interactionRequired;
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    return locked ? KeychainStatus::interactionRequired : KeychainStatus::success;
}

void Keychain::runInBackground(std::function<void()> work)
{
    KeyringThread::instance().post(std::move(work));
}

void Keychain::whenServiceAppears(QObject* receiver, std::function<void()> appeared)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const QString name = QString::fromLatin1(kServiceName);
    auto* watcher = new QDBusServiceWatcher(name, bus, QDBusServiceWatcher::WatchForRegistration, receiver);
    // Both the signal and the check below may report the same appearance. Not a disconnect of
    // all the watcher's signals: that also cuts QtDBus's own watch on its destruction.
    auto once = std::make_shared<std::function<void()>>(std::move(appeared));
    auto fire = [watcher, once] {
        if (!*once)
            return;
        const std::function<void()> call = std::exchange(*once, nullptr);
        watcher->deleteLater();
        call();
    };
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, receiver, fire);
    // The service may have taken its name after the caller learnt it was missing and before the
    // watch began; no signal comes for that.
    // Once for each owner: one that holds the name yet answers as if missing would else be asked
    // again without end.
    static QString reportedOwner;
    const QDBusConnectionInterface* daemon = bus.interface();
    const QString owner = daemon ? daemon->serviceOwner(name).value() : QString();
    if (!owner.isEmpty() && owner != std::exchange(reportedOwner, owner))
        QMetaObject::invokeMethod(watcher, fire, Qt::QueuedConnection);
}

} // namespace jw
