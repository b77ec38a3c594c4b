// The update exchange, the window's side: the update request and the service's replies. The
// request's text is exchange/request, the reading of the replies exchange/reply; the connection
// they travel on is supervisor.cpp's.
#include "app/frmDDNS.h"
#include "exchange/request.h"
#include "exchange/winsock.h"

#include <QLabel>
#include <QLineEdit>

#include <utility>

namespace {

// The window keeps the login phase as the number 0 or 1; the reply reader names it.
ReplyReader::Phase readerPhase(qint16 intLoginPhase)
{
    return static_cast<ReplyReader::Phase>(intLoginPhase);
}

} // namespace

// --- Update request -----------------------------------------------------------------------------

void frmDDNS::SendUpdateRequest()
{
    StepSkipper step;
    // A failed read keeps the address of the last request.
    step([this] { strLocalIP = Winsock1.LocalIP(); });
    step([this] { lblMyIP->setText(strLocalIP); });
    m_log.localAddress(strLocalIP);
    QString request;
    step([&] {
        request =
            buildUpdateRequest(txtUsername->text(), txtPassword->text(), strLocalIP, Winsock1.RemoteHost(), strCookie);
    });
    // A lost request is not reported: the next tick sends another one.
    step([&] { Winsock1.SendData(request); });
}

// --- Replies ----------------------------------------------------------------------------------------

void frmDDNS::endOfReplies()
{
    // The connection's text ends here: a status it left open is judged, the rest is forgotten.
    StepSkipper step;
    const ReplyReader::Result last = replyReader.endOfStream(readerPhase(intLoginPhase));
    for (const ReplyEvent &event : last.events)
        applyReplyEvent(event, step);
}

void frmDDNS::applyReplyEvent(const ReplyEvent &event, StepSkipper &step)
{
    switch (event.kind) {
    case ReplyEvent::Kind::PageStart:
        step([&] { intLoginPhase = 1; });
        step([&] { lblError->setText(QStringLiteral("Login Processing...")); });
        break;
    case ReplyEvent::Kind::Outcome:
        m_log.outcome(event.online, event.text);
        step([&] {
            if (event.online)
                OnLoginSucceeded();
            else
                OnLoginFailed();
        });
        step([&] { intLoginPhase = 0; });
        step([&] { lblMyIP->setText(event.text); });
        break;
    case ReplyEvent::Kind::Cookie:
        step([&] { strCookie = event.text; });
        break;
    }
}

void frmDDNS::Winsock1_DataArrival(qint32 bytesTotal)
{
    StepSkipper step;
    step([this] { ClearError(); });
    qint32 remaining = bytesTotal;
    while (remaining > 0) {
        remaining -= 255;
        // A fresh chunk per pass: a failed read must not process the previous chunk again.
        QString chunk;
        step([&] { Winsock1.GetData(chunk, 255); });
        step([&] {
            // Text1's own visibility counts, not the window's: the window is usually in the tray.
            if (!Text1->isHidden())
                Text1->setText(Text1->text() + chunk);
        });
        ReplyReader::Result read;
        step([&] { read = replyReader.feed(readerPhase(intLoginPhase), chunk); });
        for (const ReplyEvent &event : std::as_const(read.events))
            applyReplyEvent(event, step);
    }
}

void frmDDNS::ClearError()
{
    lblError->setText(QStringLiteral("-"));
}

void frmDDNS::OnLoginSucceeded()
{
    ClearError();
    lblMessage->setText(QString());
    ShowServiceStatus(STATUS_ONLINE);
}

void frmDDNS::OnLoginFailed()
{
    lblError->setText(QStringLiteral("Login Failed"));
    lblMessage->setText(QStringLiteral("Username or password may be incorrect."));
    ShowServiceStatus(STATUS_OFFLINE);
}
