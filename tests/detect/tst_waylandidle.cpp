// The ext-idle-notify-v1 source against a small compositor run by the test
// on a thread of its own (libwayland-server): no Debian 12 compositor that
// runs headless here offers the protocol (sway 1.7 and wayfire 0.7 are on
// wlroots 0.15, weston 10 and cage neither), so the server side is ours.

#include "common/TestMain.h"
#include "detect/WaylandIdleActivity.h"

#include <QSignalSpy>
#include <atomic>
#include <thread>

#include "ext-idle-notify-v1-server-protocol.h"
#include <wayland-server.h>

namespace {
class TestCompositor
{
public:
    std::atomic<bool> sendIdled{false}, sendResumed{false};
    std::atomic<int> timeout{-1};

    explicit TestCompositor(bool offerIdleNotify)
    {
        m_display = wl_display_create();
        const char *socket = wl_display_add_socket_auto(m_display);
        if (socket)
            m_socket = QByteArray(socket);
        wl_global_create(m_display, &wl_seat_interface, 1, this, &BindSeat);
        if (offerIdleNotify)
            wl_global_create(m_display, &ext_idle_notifier_v1_interface, 1, this, &BindNotifier);
        m_thread = std::thread([this] { Run(); });
    }
    ~TestCompositor() { stop(); }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        wl_display_destroy_clients(m_display);
        wl_display_destroy(m_display);
    }
    QByteArray socket() const { return m_socket; }

private:
    void Run()
    {
        wl_event_loop *loop = wl_display_get_event_loop(m_display);
        while (!m_stop) {
            wl_event_loop_dispatch(loop, 20);
            if (m_notification && sendIdled.exchange(false))
                ext_idle_notification_v1_send_idled(m_notification);
            if (m_notification && sendResumed.exchange(false))
                ext_idle_notification_v1_send_resumed(m_notification);
            wl_display_flush_clients(m_display);
        }
    }

    static void Destroy(wl_client *, wl_resource *resource) { wl_resource_destroy(resource); }

    static void GetNotification(wl_client *client, wl_resource *resource, uint32_t id,
                                uint32_t timeout, wl_resource *)
    {
        static const struct ext_idle_notification_v1_interface notificationImpl = {&Destroy};
        auto *self = static_cast<TestCompositor *>(wl_resource_get_user_data(resource));
        wl_resource *notification = wl_resource_create(client, &ext_idle_notification_v1_interface,
                                                       wl_resource_get_version(resource), id);
        wl_resource_set_implementation(notification, &notificationImpl, self, [](wl_resource *r) {
            auto *s = static_cast<TestCompositor *>(wl_resource_get_user_data(r));
            if (s->m_notification == r)
                s->m_notification = nullptr;
        });
        self->m_notification = notification;
        self->timeout = int(timeout);
    }

    static void BindNotifier(wl_client *client, void *data, uint32_t version, uint32_t id)
    {
        static const struct ext_idle_notifier_v1_interface notifierImpl = {&Destroy,
                                                                           &GetNotification};
        wl_resource *resource =
            wl_resource_create(client, &ext_idle_notifier_v1_interface, int(version), id);
        wl_resource_set_implementation(resource, &notifierImpl, data, nullptr);
    }

    static void BindSeat(wl_client *client, void *data, uint32_t version, uint32_t id)
    {
        wl_resource *resource = wl_resource_create(client, &wl_seat_interface, int(version), id);
        wl_resource_set_implementation(resource, nullptr, data, nullptr);
    }

    wl_display *m_display = nullptr;
    QByteArray m_socket;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    wl_resource *m_notification = nullptr; // compositor thread only
};
} // namespace

class TestWaylandIdle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<ActivitySource::Kind>(); }

    void resumedIsActivity()
    {
        TestCompositor compositor(true);
        QVERIFY(!compositor.socket().isEmpty());
        WaylandIdleActivity source(compositor.socket());
        QVERIFY(source.protocolOffered());
        QVERIFY(source.available());
        QVERIFY(!source.distinguishesKeys());
        QTRY_COMPARE(compositor.timeout.load(), WaylandIdleActivity::IdleTimeoutMilliseconds);
        QSignalSpy spy(&source, &ActivitySource::activity);

        for (int round = 1; round <= 3; ++round) {
            compositor.sendIdled = true;
            QTRY_VERIFY_WITH_TIMEOUT(source.idle(), 10000);
            QCOMPARE(spy.size(), round - 1); // idle is no activity
            compositor.sendResumed = true;
            QTRY_COMPARE_WITH_TIMEOUT(spy.size(), round, 10000);
            QCOMPARE(spy.last().at(0).value<ActivitySource::Kind>(), ActivitySource::Kind::Unknown);
            QVERIFY(!source.idle());
        }
    }

    void compositorWithoutTheProtocol()
    {
        TestCompositor compositor(false);
        WaylandIdleActivity source(compositor.socket());
        QVERIFY(!source.protocolOffered());
        QVERIFY(!source.available());
    }

    void noCompositor()
    {
        WaylandIdleActivity source(QByteArrayLiteral("tarvo2-test-no-such-display"));
        QVERIFY(!source.available());
    }

    void compositorGoingAwayEndsTheSource()
    {
        TestCompositor compositor(true);
        WaylandIdleActivity source(compositor.socket());
        QVERIFY(source.available());
        QSignalSpy gone(&source, &ActivitySource::availabilityChanged);
        compositor.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!gone.isEmpty(), 10000);
        QVERIFY(!source.available());
    }
};

TARVO_TEST_MAIN(TestWaylandIdle)
#include "tst_waylandidle.moc"
