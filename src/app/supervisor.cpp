// The connection's supervision, the window's side: the Connect button, the timer's beat, the
// socket's Connect and Error events, the system's address reports and the Disable Service check box.
//
// The situation is read afresh each time from the socket, two flags, the check box and the Connect
// button's caption, which doubles as a marker: only "Connect" lets a new attempt start.
#include "app/frmDDNS.h"
#include "exchange/winsock.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kConnectCaption = QStringLiteral("Connect");

} // namespace

void frmDDNS::cmdConnect_Click()
{
    StepSkipper step;
    step([this] { blnDisabled = chkDisableService->checkState() != Qt::Unchecked; });
    step([this] {
        if (blnDisabled)
            lblMessage->setText(QStringLiteral("If you want to connect, please uncheck \"Disable Service\""));
    });

    // Should the caption or the socket's state be unreadable, connect anyway, unless the user has
    // switched the service off.
    bool connectCondition = !blnDisabled;
    step([&] {
        const bool captionIsConnect = cmdConnect->text() == kConnectCaption;
        const bool linked = Winsock1.State() == Winsock::sckConnected;
        connectCondition = !linked && captionIsConnect && !blnDisabled;
    });

    // An attempt is outstanding: its Connect or Error event, or the retry limit, ends it.
    if (blnConnecting)
        return;

    if (connectCondition) {
        step([this] { closeSocket(); });
        step([this] { Winsock1.setRemoteHost(strServerHost); });
        step([this] { Winsock1.setRemotePort(strServerPort.trimmed().toInt()); });
        step([this] { Winsock1.setLocalPort(0); });
        step([this] { blnConnecting = true; });
        step([this] { cmdConnect->setEnabled(false); });
        step([this] { Winsock1.Connect(); });
    } else {
        step([this] { closeSocket(); });
        step([this] { cmdConnect->setText(kConnectCaption); });
        step([this] { cmdConnect->setEnabled(true); });
        step([this] {
            if (blnDisabled)
                lblStatus->setText(QStringLiteral("Disabled"));
        });
        step([this] { blnConnecting = false; });
    }
}

void frmDDNS::closeSocket()
{
    m_log.closed();
    endOfReplies();
    Winsock1.Close();
}

void frmDDNS::Timer1_Timer()
{
    // A connection whose local address has left the machine (a new lease, another network) carries
    // nothing any more, though the system may take a quarter of an hour to say so. It is closed
    // as if the peer had closed it, and the decision below opens a new one from the current address.
    const bool addressLeft = Winsock1.State() == Winsock::sckConnected && Winsock1.isLocalAddressGone();
    if (addressLeft) {
        m_log.addressLeft(Winsock1.LocalIP());
        closeSocket();
    }
    // A request the socket has still not handed to the system at the third tick in a row: the socket
    // no longer reports on its connection (Wine loses a reset that answers a request, and every event
    // of the connection after it). Nothing would ever end the connection, so it is given up here and
    // reopened in this tick. Data the system holds is left to the system's own limit.
    const bool stalled = !addressLeft && Winsock1.State() == Winsock::sckConnected && Winsock1.hasSendBacklog();
    m_stuckTicks = stalled && Winsock1.hasBytesToWrite() ? static_cast<qint16>(m_stuckTicks + 1) : qint16(0);
    const bool stuck = m_stuckTicks >= 3;
    if (stuck) {
        m_log.stuckGivenUp(strServerHost);
        closeSocket();
        m_stuckTicks = 0;
    }
    if (Winsock1.State() != Winsock::sckConnected) {
        // A connection the peer has closed has said all it will; its last outcome is shown before
        // the decision below looks at the caption.
        m_log.lost(strServerHost);
        endOfReplies();
        if (blnConnecting)
            ++intRetryTicks;
        // An attempt that has had neither a Connect nor an Error event for three ticks is given up;
        // the decision below starts a fresh one. Only this resets the counter.
        if (intRetryTicks >= 3) {
            if (blnConnecting)
                m_log.attemptGivenUp(strServerHost, strServerPort);
            intRetryTicks = 0;
            blnConnecting = false;
        }
        cmdConnect_Click();
        // After an outcome that click only reset the caption. A connection given up for its
        // address is reopened in this tick, as a report of the change would do: where no report
        // comes, this tick is the only notice. One given up as stuck has waited long enough.
        if ((addressLeft || stuck) && !blnConnecting && Winsock1.State() != Winsock::sckConnected)
            cmdConnect_Click();
    }
    if (Winsock1.State() == Winsock::sckConnected) {
        // The last request still waits for the service's acknowledgement: the path has gone quiet.
        // Another one stacked behind it would only reach the service in a burst when the path
        // comes back; the connection's unacknowledged-data limit ends a path that stays dead.
        if (stalled)
            m_log.heldBack();
        else
            SendUpdateRequest();
    }
}

void frmDDNS::Winsock1_Connect()
{
    if (Winsock1.State() != Winsock::sckConnected)
        return;
    m_log.connected(Winsock1.RemoteHost(), strServerPort, Winsock1.LocalIP());
    lblStatus->setText(QStringLiteral("Connected to ") + Winsock1.RemoteHost());
    ClearError();
    SendUpdateRequest();
    blnConnecting = false;
    cmdConnect->setEnabled(true);
}

void frmDDNS::Winsock1_Error(qint16 Number, const QString &Description, qint32 /*Scode*/, const QString & /*Source*/,
                             const QString & /*HelpFile*/, qint32 /*HelpContext*/, bool /*CancelDisplay*/)
{
    m_log.socketError(Number, Description);
    StepSkipper step;
    step([this] { closeSocket(); });
    step([this] { cmdConnect->setEnabled(true); });
    step([this] { blnConnecting = false; });
    step([&] { lblError->setText(Description); });
}

void frmDDNS::onAddressesChanged()
{
    // The system reports a change of the machine's addresses: act on it now rather than at the next
    // tick, which stays the guarantee where no such report comes.
    if (Winsock1.State() == Winsock::sckConnected) {
        if (!Winsock1.isLocalAddressGone())
            return;
        m_log.addressLeft(Winsock1.LocalIP());
        closeSocket();
    }
    // A new address may be what the last attempt lacked. Decide as a click would, twice: a caption
    // that still shows the last outcome is reset first, then an attempt starts from the current
    // address, unless one is under way.
    const bool wasConnecting = blnConnecting;
    for (int click = 0; click < 2 && !blnConnecting && Winsock1.State() != Winsock::sckConnected; ++click)
        cmdConnect_Click();
    // The request this attempt sends counts as the tick's: the ticks start again from it, so that a
    // change just after a tick never puts three requests into ten seconds.
    if (blnConnecting && !wasConnecting && Timer1->isActive())
        Timer1->start();
}

void frmDDNS::chkDisableService_Click()
{
    m_log.serviceSwitched(chkDisableService->checkState() == Qt::Checked);
    if (chkDisableService->checkState() == Qt::Checked) {
        blnDisabled = true;
        ShowServiceStatus(STATUS_DISABLED);
    } else {
        blnDisabled = false;
        ShowServiceStatus(STATUS_OFFLINE);
    }
    cmdConnect_Click();
}
