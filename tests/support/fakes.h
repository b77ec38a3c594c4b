#pragma once

#include "app/desktopservices.h"
#include "core/errors.h"
#include "exchange/winsock.h"
#include "tray/notificationarea.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Records message boxes and the end of the program instead of showing or doing them.
class FakeDesktopServices final : public DesktopServices
{
public:
    struct Box {
        QString text;
        Icon icon;
    };

    explicit FakeDesktopServices(QString appPath) : m_appPath(std::move(appPath)) {}

    void messageBox(const QString &text, Icon icon) override
    {
        boxes.append({text, icon});
        if (whileBoxIsOpen)
            whileBoxIsOpen();
    }
    void endProgram(int code) override
    {
        ended = true;
        exitCode = code;
    }
    bool hasEnded() const override { return ended; }
    QString appPath() const override { return m_appPath; }
    void setAppPath(const QString &path) { m_appPath = path; }

    QList<Box> boxes;
    // Runs while a box is "open", as events the modal box lets through would.
    std::function<void()> whileBoxIsOpen;
    bool ended = false;
    int exitCode = -1;

private:
    QString m_appPath;
};

// A socket that records every call, in order, and raises events only when the test says so.
class FakeWinsock final : public Winsock
{
    Q_OBJECT
public:
    using Winsock::Winsock;

    qint16 State() const override
    {
        if (failState)
            throw NumberedError(Err::InvalidOperationAtState, QStringLiteral("Invalid operation at current state"));
        return state;
    }
    void Close() override
    {
        calls << QStringLiteral("Close");
        state = sckClosed;
        incoming.clear();
    }
    QString RemoteHost() const override { return remoteHost; }
    void setRemoteHost(const QString &host) override
    {
        calls << QStringLiteral("RemoteHost=") + host;
        remoteHost = host;
    }
    qint32 RemotePort() const override { return remotePort; }
    void setRemotePort(qint32 port) override
    {
        calls << QStringLiteral("RemotePort=%1").arg(port);
        remotePort = port;
    }
    void setLocalPort(qint32 port) override { calls << QStringLiteral("LocalPort=%1").arg(port); }
    void Connect() override
    {
        calls << QStringLiteral("Connect");
        if (onConnect)
            onConnect();
        if (failConnect)
            throw NumberedError(Err::InvalidOperationAtState, QStringLiteral("Invalid operation at current state"));
        state = sckConnecting;
    }
    QString LocalIP() const override
    {
        if (failLocalIP)
            throw NumberedError(Err::WrongProtocolState, QStringLiteral("No local address"));
        return localIP;
    }
    bool isLocalAddressGone() const override { return state == sckConnected && localAddressGone; }
    bool hasSendBacklog() const override { return state == sckConnected && (sendBacklog || sendPending); }
    bool hasBytesToWrite() const override { return state == sckConnected && sendPending; }
    void SendData(const QString &data) override
    {
        calls << QStringLiteral("SendData");
        if (failSend || state != sckConnected)
            throw NumberedError(
                Err::WrongProtocolState,
                QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
        sent << data;
    }
    void GetData(QString &data, qint16 maxLen) override
    {
        const qsizetype n = qMin<qsizetype>(maxLen, incoming.size());
        data = QString::fromLatin1(incoming.constData(), n);
        incoming.remove(0, n);
        chunksRead << data;
    }

    // Test side: make the connection, or fail it, or deliver bytes, as the real socket would.
    void raiseConnect()
    {
        state = sckConnected;
        emit ConnectEvent();
    }
    void raiseError(qint16 number, const QString &description)
    {
        state = sckError;
        emit Error(number, description, 0, QStringLiteral("Winsock"), QString(), 0, false);
    }
    void raiseAddressesChanged() { emit addressesChanged(); }
    void deliver(const QByteArray &bytes)
    {
        incoming += bytes;
        emit DataArrival(static_cast<qint32>(incoming.size()));
    }

    qint16 state = sckClosed;
    QString remoteHost;
    qint32 remotePort = 0;
    QString localIP = QStringLiteral("192.168.1.23");
    QByteArray incoming;
    bool failState = false;
    bool failConnect = false;
    bool failLocalIP = false;
    bool failSend = false;
    // The open connection's local address has left the machine.
    bool localAddressGone = false;
    // The peer has not acknowledged what was sent.
    bool sendBacklog = false;
    // Not even handed to the system.
    bool sendPending = false;
    // Runs inside Connect(), so a test can look at the window while the call is made.
    std::function<void()> onConnect;
    QStringList calls;
    QStringList sent;
    QStringList chunksRead;
};

// A notification area that holds at most one icon, refuses a second add, and lets the test raise
// the shell's mouse messages and make the area appear or go away.
class FakeNotificationArea final : public NotificationArea
{
    Q_OBJECT
public:
    using NotificationArea::NotificationArea;

    bool Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid) override
    {
        calls << (operation == NIM_ADD ? QStringLiteral("add") : QStringLiteral("delete"));
        if (!available)
            return false;
        if (operation == NIM_ADD) {
            if (present)
                return false;
            present = true;
            tip = nid.tip();
            uID = nid.uID;
            return true;
        }
        if (operation == NIM_DELETE) {
            if (!present || nid.uID != uID)
                return false;
            present = false;
            return true;
        }
        return present;
    }
    bool isAvailable() const override { return available; }
    bool isIconPresent() const override { return present; }

    void activate(int mouseMessage) { emit notification(uID, mouseMessage); }
    // The desktop's notification area appears or goes away; the icon goes with it.
    void setAvailable(bool isAvailable)
    {
        if (isAvailable == available)
            return;
        available = isAvailable;
        if (!available)
            present = false;
        emit availabilityChanged(available);
    }

    bool available = true;
    bool present = false;
    QString tip;
    quint32 uID = 0;
    QStringList calls;
};
