// The window's visibility: while minimised the window is hidden and the tray icon stands in for it.
#include "app/frmDDNS.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QScopedValueRollback>

#include <utility>

namespace {

// Learns whether Esc was pressed in a menu while it was open: the one dismissal from the keyboard.
class EscapeWatch final : public QObject
{
public:
    explicit EscapeWatch(QWidget *menu) : m_menu(menu) { m_menu->installEventFilter(this); }
    ~EscapeWatch() override { m_menu->removeEventFilter(this); }
    EscapeWatch(const EscapeWatch &) = delete;
    EscapeWatch &operator=(const EscapeWatch &) = delete;

    bool pressed = false;

protected:
    bool eventFilter(QObject * /*watched*/, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            pressed = true;
        return false;
    }

private:
    QWidget *m_menu;
};

} // namespace

void frmDDNS::Form_Resize()
{
    if (WindowState() != vbMinimized)
        return;
    m_tray.Shell_NotifyIcon(NotificationArea::NIM_ADD, nidTray);
    if (m_tray.isAvailable()) {
        hide();
        return;
    }
    // Without a notification area a hidden window could never be brought back: it stays
    // minimised on the taskbar instead, and a window that was never shown (start-up) appears there.
    if (isHidden())
        showMinimized();
}

// A notification area appeared or went away. A minimised window goes where a minimised window
// belongs now, as at start-up: into the tray behind its icon when there is one, on the taskbar when
// there is none (its icon went with the area). A window the user has open is left alone; its icon is
// added when it is next minimised.
void frmDDNS::onTrayAvailabilityChanged()
{
    Form_Resize();
}

void frmDDNS::Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode)
{
    const int state = WindowState();
    if (UnloadMode == vbFormControlMenu && state != vbMinimized && !blnExiting) {
        setWindowStateValue(vbMinimized);
        Cancel = 1;
    }
}

void frmDDNS::Form_MouseMove(qint16 /*Button*/, qint16 /*Shift*/, float X, float /*Y*/)
{
    if (X == static_cast<float>(WM_LBUTTONDBLCLK)) {
        submnuProperty_Click(0);
    } else if (X == static_cast<float>(WM_RBUTTONDOWN)) {
        // Blocks until the menu closes; a chosen item runs submnuProperty_Click before this returns.
        const QPoint pos = QCursor::pos();
        EscapeWatch escape(mnupopup);
        {
            const QScopedValueRollback popupOpen(m_popupOpen, true);
            // Opened from the tray, the menu must hold the foreground to close on a click elsewhere
            // and to hear the keyboard (Windows); the system is asked before the menu shows.
            if (menuTakesForeground)
                menuTakesForeground(mnupopup);
            if (execPopupMenu)
                execPopupMenu(mnupopup, pos);
            else
                mnupopup->exec(pos);
        }
        // Dismissed from the keyboard: the keyboard goes back to the icon the menu was opened on.
        if (escape.pressed && !m_services.hasEnded() && menuReturnsKeyboard)
            menuReturnsKeyboard();
        // What the menu's loop held back: after Exit, these are answered "not shown".
        for (auto &answer : std::exchange(m_showAnswers, {}))
            showOnRequest(std::move(answer));
    }
}

void frmDDNS::showOnRequest(std::function<void(bool shown)> answer)
{
    if (m_popupOpen) {
        // Restored from inside the menu's loop, the window would come up under a menu that then
        // acts on it; it comes once the menu has closed.
        m_showAnswers.push_back(std::move(answer));
        return;
    }
    dispatch([this] { submnuProperty_Click(0); });
    // The one who started the program again wants to work with the window: in front of the window
    // they were in, with the keyboard, even where it was open already behind another one.
    const bool shown = !m_ending && !m_services.hasEnded() && isVisible();
    if (shown) {
        raise();
        activateWindow();
    }
    // While a failure is reported (the message box is up) or after the end, nothing was shown.
    answer(shown);
}

void frmDDNS::submnuProperty_Click(qint16 Index)
{
    if (Index == 0) {
        // A window minimised while hidden keeps an iconic native window. On X11, Qt maps such a
        // window as soon as its state returns to normal, before it updates the window manager's
        // hints, and the window manager may iconify it again at once. A hidden window therefore
        // gives up its native window first; the next show creates a fresh, normal one, where the
        // old one was (a window never shown yet is left to the window manager's placement).
        if (isHidden() && testAttribute(Qt::WA_WState_Created)) {
            const QPoint where = pos();
            destroy();
            if (!where.isNull())
                move(where);
        }
        setWindowStateValue(vbNormal);
        m_tray.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nidTray);
        showNormal();
    } else if (Index == 3) {
        blnExiting = true;
        endNow(0);
    }
}
