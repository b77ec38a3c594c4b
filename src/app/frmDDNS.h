#pragma once

#include "app/closeorigin.h"
#include "app/desktopservices.h"
#include "app/exchangelog.h"
#include "app/traymenufocus.h"
#include "core/errors.h"
#include "exchange/reply.h"
#include "status/servicestatus.h"
#include "tray/notificationarea.h"

#include <QMap>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class Winsock;

// The program's one window. It owns the state of the update exchange, every control, the socket,
// the timer and the tray record. Its handlers live in one file per topic beside this one (start-up
// and wiring, settings, the connection's supervision, the exchange, tray, status); each reads the
// controls, calls the subsystem below and applies the result. Handlers are named after their
// control and event, and are public so that the program's own handlers and the tests can call them
// directly, as plain procedures.
class frmDDNS : public QWidget
{
    Q_OBJECT
public:
    // Where the update service lives. The executable passes the value compiled into it; tests
    // point the window at a loopback server.
    struct ServiceEndpoint {
        QString host;
        qint32 port;
    };

    static constexpr qint32 STATUS_DISABLED = ::STATUS_DISABLED;
    static constexpr qint32 STATUS_OFFLINE = ::STATUS_OFFLINE;
    static constexpr qint32 STATUS_ONLINE = ::STATUS_ONLINE;

    // Window states as the handlers see them.
    static constexpr int vbNormal = 0;
    static constexpr int vbMinimized = 1;
    static constexpr int vbMaximized = 2;

    // Close reasons: 0 is the user's own close box or control menu.
    static constexpr qint16 vbFormControlMenu = 0;
    static constexpr qint16 vbAppWindows = 2;
    static constexpr qint16 vbAppTaskManager = 3;

    frmDDNS(DesktopServices &services, Winsock &socket, NotificationArea &notificationArea, ServiceEndpoint service,
            QWidget *parent = nullptr);
    ~frmDDNS() override;

    void setVisible(bool visible) override;

    // Runs Form_Load through the dispatch boundary, as the window's creation does.
    void load();
    // Start-up as the program runs it: load(), then, on a first start (start-up found no
    // config.dat), the window opens as Property opens it. A new program's tray icon may be out of
    // sight (Windows puts it in the overflow), and without an account there is nothing to do in the
    // tray. With a config.dat, even one that cannot be read, start-up ends hidden.
    void start();

    // The dispatch boundary: every event Qt delivers reaches its handler through here. A failure
    // that no step-skipping caller absorbed is reported with its number and description, and the
    // program ends. Once the program has ended no further handler runs.
    template <typename Handler> void dispatch(Handler &&handler) noexcept
    {
        if (m_ending || m_services.hasEnded())
            return;
        try {
            handler();
        } catch (const NumberedError &e) {
            reportAndEnd(e.number(), e.description());
        } catch (const std::exception &e) {
            reportAndEnd(0, QString::fromLocal8Bit(e.what()));
        }
    }

    // --- Event handlers -------------------------------------------------------------------------
    void Form_Load();
    void Form_Resize();
    void Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode);
    void Form_MouseMove(qint16 Button, qint16 Shift, float X, float Y);
    void submnuProperty_Click(qint16 Index);
    // A later start of the program asked for the window, as Property does. answer learns whether the
    // window was shown: at once, or once an open tray menu has closed; never while the program ends.
    void showOnRequest(std::function<void(bool shown)> answer);
    void cmdConnect_Click();
    void chkDisableService_Click();
    void Timer1_Timer();
    void Winsock1_Connect();
    void Winsock1_Error(qint16 Number, const QString &Description, qint32 Scode, const QString &Source,
                        const QString &HelpFile, qint32 HelpContext, bool CancelDisplay);
    void Winsock1_DataArrival(qint32 bytesTotal);
    void cmdSave_Click();
    void cmdDefault_Click();

    // --- Events the window's first design never had, named in Qt's style ------------------------
    // The desktop's notification area appeared or went away.
    void onTrayAvailabilityChanged();
    // The system reports that the machine's addresses have changed.
    void onAddressesChanged();

    // --- Procedures -----------------------------------------------------------------------------
    void LoadSettings();
    void ShowServiceStatus(qint32 status);
    void SendUpdateRequest();
    void OnLoginFailed();
    void OnLoginSucceeded();
    void ClearError();

    // --- Window operations the handlers use ----------------------------------------------------
    int WindowState() const;
    void setWindowStateValue(int state);
    QString configPath() const;
    static QPixmap LoadPicture(const QString &path);

    // --- State ----------------------------------------------------------------------------------
    qint16 intLoginPhase = 0;
    QString strServerPort;
    QString strServerHost;
    bool blnExiting = false;
    bool blnConnecting = false;
    bool blnDisabled = false;
    QString strLocalIP;
    QString strCookie;
    NOTIFYICONDATA nidTray;
    // Ticks spent on an outstanding connection attempt; belongs to Timer1_Timer alone.
    qint16 intRetryTicks = 0;
    // Received text that the reply reader carries from one delivery to the next.
    ReplyReader replyReader;

    QPixmap Picture;

    // --- Controls -------------------------------------------------------------------------------
    QLabel *Label9 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtUsername = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtPassword = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtGatewayIP = nullptr;
    QPushButton *cmdDefault = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdSave = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblStatus = nullptr;
    QLabel *imgStatus = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *lblMyIP = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *lblError = nullptr;
    QCheckBox *chkDisableService = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *lblMessage = nullptr;
    QFrame *Line1 = nullptr;
    QFrame *Line2 = nullptr;
    QFrame *Line3 = nullptr;
    QTimer *Timer1 = nullptr;
    Winsock &Winsock1;
    QMenu *mnupopup = nullptr;
    // The tray menu's items by index: 0 "Property", 1 the separator, 3 "Exit"; there is no 2.
    QMap<qint16, QAction *> submnuProperty;
    // Opens a pop-up menu at a screen position and returns when it has closed. Empty means the
    // menu's own exec(); tests set it to choose an item, or dismiss, without a blocking loop.
    std::function<void(QMenu *menu, const QPoint &pos)> execPopupMenu;
    // What the tray menu asks of the system (app/traymenufocus.h): the foreground just before it
    // shows, and the keyboard back to the notification area after Esc dismissed it. Tests record them.
    std::function<void(QWidget *menu)> menuTakesForeground = TrayMenuFocus::takeForeground;
    std::function<void()> menuReturnsKeyboard = TrayMenuFocus::returnToNotificationArea;

    DesktopServices &services() { return m_services; }
    NotificationArea &notificationArea() { return m_tray; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void closeSocket();
    void endOfReplies();
    void applyReplyEvent(const ReplyEvent &event, StepSkipper &step);
    // The window is built band by band, top to bottom.
    void createControls();
    void createTitleBand();
    void createAccountBand();
    void createStatusBand();
    void createTipsBand();
    void createTrayMenu();
    void wireEvents();
    void reportAndEnd(int number, const QString &description);
    // Ends the program at once, removing the tray icon first.
    void endNow(int exitCode);

    DesktopServices &m_services;
    NotificationArea &m_tray;
    ServiceEndpoint m_service;
    // Set while a failure is being reported: the program is on its way out and the modal message
    // box must not let timer or socket events run more handlers meanwhile.
    bool m_ending = false;
    // Set while the tray menu is open.
    bool m_popupOpen = false;
    // Set when start-up found no config.dat: nothing was ever saved.
    bool m_firstStart = false;
    // Set once the window's font and icon are, as it is first shown.
    bool m_dressed = false;
    // Requests for the window that came while the tray menu was open.
    std::vector<std::function<void(bool)>> m_showAnswers;
    // Who asked for the close the system delivers: the user, or another program.
    CloseOrigin m_closeOrigin;
    ExchangeLog m_log;
    // Ticks in a row that found a request not yet handed to the system; belongs to Timer1_Timer alone.
    qint16 m_stuckTicks = 0;
};
