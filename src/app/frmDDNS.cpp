#include "app/frmDDNS.h"
#include "app/accessibility.h"
#include "app/statuslabel.h"
#include "core/logging.h"

#include "core/logging.h"
#include "exchange/winsock.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

const QColor kBackColour(255, 224, 192);
const QColor kHeadingColour(192, 192, 255);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kLineColour(224, 224, 224);

void setTextColour(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

template <typename Label = QLabel>
Label *label(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *l = new Label(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Labels show text from the network and from files; it is never interpreted as markup.
    l->setTextFormat(Qt::PlainText);
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

QLabel *boldLabel(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    QLabel *l = label(parent, name, caption, geometry);
    // Bold alone is the label's own: face and size follow the window's font whenever it is set.
    QFont bold;
    bold.setBold(true);
    l->setFont(bold);
    return l;
}

QLineEdit *textBox(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *t = new QLineEdit(text, parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setGeometry(geometry);
    return t;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

QFrame *line(QWidget *parent, const char *name, int y)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setGeometry(0, y, 345, 1);
    f->setFrameShape(QFrame::NoFrame);
    QPalette p = f->palette();
    p.setColor(QPalette::Window, kLineColour);
    f->setPalette(p);
    f->setAutoFillBackground(true);
    return f;
}

// A reader that takes the picture's format from its file name. Left to find the format itself, a
// reader loads every image plugin there is and asks each whether it knows the file, even a file
// whose name says its format; the plugins and their libraries then stay loaded for good.
std::unique_ptr<QImageReader> readByName(const QString &path)
{
    auto reader = std::make_unique<QImageReader>(path, QFileInfo(path).suffix().toLatin1());
    reader->setAutoDetectImageFormat(false);
    return reader;
}

// The program's icon, one picture file per drawn size. Qt's own engine reads every file as it is
// added, and asks every image plugin whether it knows the file; this one reads only the file of the
// size being drawn (as PNG, asking no plugin), when it is drawn, and keeps nothing: a hidden window
// and a tray icon draw one size, seldom.
class IconFiles final : public QIconEngine
{
public:
    explicit IconFiles(QList<int> sides) : m_sides(std::move(sides)) { std::sort(m_sides.begin(), m_sides.end()); }

    QIconEngine *clone() const override { return new IconFiles(*this); }
    QString key() const override { return QStringLiteral("IconFiles"); }
    bool isNull() override { return m_sides.isEmpty(); }

    QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override
    {
        QList<QSize> sizes;
        for (const int side : std::as_const(m_sides))
            sizes.append(QSize(side, side));
        return sizes;
    }

    QSize actualSize(const QSize &size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override
    {
        const int side = sideFor(size);
        QSize actual(side, side);
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }

    // The file is chosen, and scaled to fit, as Qt does among the sizes of an icon. The other modes
    // are drawn by the style, as for any icon. Nothing goes to the pixmap cache.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap picture = QPixmap::fromImage(readByName(QStringLiteral(":/vestrel-%1.png").arg(sideFor(size)))->read());
        if (mode != QIcon::Normal)
            return QIcon(picture).pixmap(size, 1.0, mode, state);
        const QSize actual = actualSize(size, mode, state);
        if (!picture.isNull() && picture.size() != actual)
            picture = picture.scaled(actual, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return picture;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, scaledPixmap(rect.size() * ratio, mode, state, ratio));
    }

private:
    // The smallest side whose area covers the size asked for, or else the largest.
    int sideFor(const QSize &size) const
    {
        const qint64 asked = qint64(size.width()) * size.height();
        for (const int side : m_sides) {
            if (qint64(side) * side >= asked)
                return side;
        }
        return m_sides.isEmpty() ? 0 : m_sides.last();
    }

    QList<int> m_sides;
};

QIcon programIcon()
{
    return QIcon(new IconFiles({16, 22, 24, 32, 48, 64, 128, 256}));
}

// The password box masks with "*", as the window was drawn, whatever bullet the style prefers.
class AsteriskMask final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// A native theme (Windows' visual styles) draws the check box's box at the size it has for the
// system's DPI, centred in whatever room it is given: where Qt scales the window beyond that
// (QT_SCALE_FACTOR on a 100 % screen), the box stays small among doubled captions. What the style
// drew is then stretched to fill the room, as everything around it was.
class ScaledIndicator final : public QProxyStyle
{
public:
    // Over the application's own style, whichever it is.
    ScaledIndicator() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_IndicatorCheckBox || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const qreal ratio = painter->device()->devicePixelRatio();
        QImage drawn((QSizeF(option->rect.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(ratio);
        drawn.fill(Qt::transparent);
        {
            QPainter p(&drawn);
            p.translate(-option->rect.topLeft());
            QProxyStyle::drawPrimitive(element, option, &p, widget);
        }
        QRect box;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (qAlpha(drawn.pixel(x, y)) != 0)
                    box |= QRect(x, y, 1, 1);
            }
        }
        if (box.height() * 4 >= drawn.height() * 3)
            painter->drawImage(option->rect.topLeft(), drawn);
        else if (!box.isEmpty())
            painter->drawImage(QRectF(option->rect), drawn, QRectF(box));
    }
};

} // namespace

frmDDNS::frmDDNS(DesktopServices &services, Winsock &socket, NotificationArea &notificationArea,
                 ServiceEndpoint service, QWidget *parent)
    : QWidget(parent), Winsock1(socket), m_services(services), m_tray(notificationArea), m_service(std::move(service))
{
    installAccessibleInterfaces();
    createControls();
    wireEvents();
}

frmDDNS::~frmDDNS() = default;

void frmDDNS::createControls()
{
    setObjectName(QStringLiteral("frmDDNS"));
    setWindowTitle(QStringLiteral("DDNS Property"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(345, 239);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackColour);
    setPalette(pal);
    setAutoFillBackground(true);
    // The tray notification reaches the mouse-move handler; ordinary movement does too.
    setMouseTracking(true);

    createTitleBand();
    createAccountBand();
    createStatusBand();
    createTipsBand();
    Line2 = line(this, "Line2", 0);
    Line1 = line(this, "Line1", 152);
    Line3 = line(this, "Line3", 216);

    // Focus order by tab index: chkDisableService 6, Text1 7, cmdConnect 10, cmdDefault 11,
    // cmdSave 12, txtPassword 13, txtUsername 14, txtGatewayIP 15 (hidden ones are skipped).
    const QList<QWidget *> order{chkDisableService, Text1,       cmdConnect,  cmdDefault,
                                 cmdSave,           txtPassword, txtUsername, txtGatewayIP};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10000);

    createTrayMenu();
}

// The window's font and icon are set as it is first shown: from most starts to the end it stays
// hidden. A text box lays out its text with each font it is given, so the face would be loaded and
// the text shaped for nothing; and a window's icon is handed to the window system in every size at
// once (on X11 as soon as the window exists), so every picture would be decoded for nothing.
void frmDDNS::setVisible(bool visible)
{
    if (visible && !m_dressed) {
        m_dressed = true;
        // Every drawn size, so that the panel, the task switcher and HiDPI screens each pick one
        // instead of scaling a small picture up.
        setWindowIcon(programIcon());
        // The layout was drawn for a narrow 8 pt sans serif; where that face is missing, one with
        // the same widths keeps every caption inside its place. "MS Sans Serif" is a bitmap face
        // made for 100 %, which Qt keeps at any size: scaled, its outline twin of the same widths
        // draws sharp.
        QStringList faces{QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                          QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
        if (devicePixelRatio() > 1)
            faces.swapItemsAt(0, 1);
        QFont base = font();
        base.setFamilies(faces);
        base.setPointSizeF(8.25);
        setFont(base);
    }
    QWidget::setVisible(visible);
}

// The heading and the logo.
void frmDDNS::createTitleBand()
{
    Label9 = boldLabel(this, "Label9", QStringLiteral("Property"), {8, 8, 97, 17});
    setTextColour(Label9, kHeadingColour);
    Image1 = label(this, "Image1", QString(), {240, 8, 99, 35});
    Image1->setPixmap(QPixmap::fromImage(readByName(QStringLiteral(":/logo.bmp"))->read()));
    // The logo shows the product's name, and reads as it.
    Image1->setAccessibleName(QStringLiteral("Vestrel"));
}

// The account, the two buttons, and the controls that are created hidden and stay so.
void frmDDNS::createAccountBand()
{
    Label2 = boldLabel(this, "Label2", QStringLiteral("Username : "), {72, 40, 81, 17});
    txtUsername = textBox(this, "txtUsername", QString(), {136, 40, 89, 19});

    Label3 = boldLabel(this, "Label3", QStringLiteral("Password : "), {72, 80, 65, 17});
    txtPassword = textBox(this, "txtPassword", QString(), {136, 80, 89, 19});
    auto *asterisk = new AsteriskMask;
    asterisk->setParent(txtPassword);
    txtPassword->setStyle(asterisk);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    nameBy(Label2, txtUsername);
    nameBy(Label3, txtPassword);

    Label1 = label(this, "Label1", QStringLiteral("Gateway (Name or IP) :"), {248, 128, 113, 33});
    Label1->setWordWrap(true);
    Label1->hide();
    txtGatewayIP = textBox(this, "txtGatewayIP", QString(), {264, 72, 105, 19});
    txtGatewayIP->hide();
    cmdDefault = button(this, "cmdDefault", QStringLiteral("Default"), {272, 104, 57, 17});
    cmdDefault->hide();

    cmdConnect = button(this, "cmdConnect", QStringLiteral("Connect"), {88, 120, 81, 17});
    cmdSave = button(this, "cmdSave", QStringLiteral("Save"), {208, 120, 49, 17});

    Text1 = textBox(this, "Text1", QStringLiteral("Text1"), {0, 32, 321, 25});
    Text1->hide();
}

// The connection, the address, the last error, the status picture and the service switch.
void frmDDNS::createStatusBand()
{
    Label4 = boldLabel(this, "Label4", QStringLiteral("DDNS Server : "), {16, 160, 88, 13});
    setTextColour(Label4, kYellow);
    lblStatus = label<StatusLabel>(this, "lblStatus", QStringLiteral("Disconnected"), {104, 160, 209, 17});
    setTextColour(lblStatus, kWhite);

    imgStatus = label(this, "imgStatus", QString(), {280, 160, 44, 26});
    imgStatus->setPixmap(QPixmap::fromImage(readByName(QStringLiteral(":/status-initial.png"))->read()));
    // The picture in words, for assistive technology; ShowServiceStatus renames it with each picture.
    imgStatus->setAccessibleName(QStringLiteral("Unknown"));

    Label5 = boldLabel(this, "Label5", QStringLiteral("My IP : "), {16, 176, 65, 17});
    setTextColour(Label5, kYellow);
    lblMyIP = label<StatusLabel>(this, "lblMyIP", QStringLiteral("N/A"), {104, 176, 97, 17});
    setTextColour(lblMyIP, kWhite);

    Label6 = boldLabel(this, "Label6", QStringLiteral("Error : "), {16, 192, 57, 17});
    setTextColour(Label6, kYellow);
    lblError = label<StatusLabel>(this, "lblError", QStringLiteral("-"), {104, 192, 133, 13});
    setTextColour(lblError, kWhite);

    chkDisableService = new QCheckBox(this);
    chkDisableService->setObjectName(QStringLiteral("chkDisableService"));
    chkDisableService->setGeometry(232, 192, 14, 17);
    auto *scaled = new ScaledIndicator;
    scaled->setParent(chkDisableService);
    chkDisableService->setStyle(scaled);
    Label8 = label(this, "Label8", QStringLiteral("Disable service"), {250, 195, 81, 17});
    setTextColour(Label8, kWhite);
    // The check box's caption is a label of its own; clicking it still does nothing.
    nameBy(Label8, chkDisableService);

    // Each value is read with its heading.
    Label4->setBuddy(lblStatus);
    Label5->setBuddy(lblMyIP);
    Label6->setBuddy(lblError);
}

// The hint line.
void frmDDNS::createTipsBand()
{
    Label7 = label(this, "Label7", QStringLiteral("Tips : "), {8, 224, 33, 17});
    setTextColour(Label7, kYellow);
    lblMessage = label<StatusLabel>(this, "lblMessage", QString(), {40, 224, 305, 17});
    setTextColour(lblMessage, kWhite);
    Label7->setBuddy(lblMessage);
}

// The tray's pop-up menu: items 0 "Property", 1 a separator, 3 "Exit"; there is no 2.
void frmDDNS::createTrayMenu()
{
    mnupopup = new QMenu(QStringLiteral("Menu Popup"), this);
    mnupopup->setObjectName(QStringLiteral("mnupopup"));
    submnuProperty.insert(0, mnupopup->addAction(QStringLiteral("Property")));
    submnuProperty.insert(1, mnupopup->addSeparator());
    submnuProperty.insert(3, mnupopup->addAction(QStringLiteral("Exit")));
}

void frmDDNS::wireEvents()
{
    connect(cmdConnect, &QPushButton::clicked, this, [this] { dispatch([this] { cmdConnect_Click(); }); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { dispatch([this] { cmdSave_Click(); }); });
    connect(cmdDefault, &QPushButton::clicked, this, [this] { dispatch([this] { cmdDefault_Click(); }); });
    // stateChanged fires exactly when the value changes, whether the user or the program changed it.
    connect(chkDisableService, &QCheckBox::stateChanged, this,
            [this](int) { dispatch([this] { chkDisableService_Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { dispatch([this] { Timer1_Timer(); }); });

    connect(&Winsock1, &Winsock::ConnectEvent, this, [this] { dispatch([this] { Winsock1_Connect(); }); });
    connect(&Winsock1, &Winsock::addressesChanged, this, [this] { dispatch([this] { onAddressesChanged(); }); });
    connect(&Winsock1, &Winsock::DataArrival, this,
            [this](qint32 bytesTotal) { dispatch([this, bytesTotal] { Winsock1_DataArrival(bytesTotal); }); });
    connect(&Winsock1, &Winsock::Error, this,
            [this](qint16 number, const QString &description, qint32 scode, const QString &source,
                   const QString &helpFile, qint32 helpContext, bool cancelDisplay) {
                dispatch(
                    [&] { Winsock1_Error(number, description, scode, source, helpFile, helpContext, cancelDisplay); });
            });

    for (auto it = submnuProperty.cbegin(); it != submnuProperty.cend(); ++it) {
        const qint16 index = it.key();
        connect(it.value(), &QAction::triggered, this,
                [this, index] { dispatch([this, index] { submnuProperty_Click(index); }); });
    }
    connect(&m_tray, &NotificationArea::notification, this, [this](quint32 uID, int mouseMessage) {
        // While the tray menu is open, a click on the icon only closes it, as a click anywhere
        // outside a menu does: no second menu, no window restored from inside the menu's loop.
        if (uID != nidTray.uID || m_popupOpen)
            return;
        dispatch([this, mouseMessage] { Form_MouseMove(0, 0, static_cast<float>(mouseMessage), 0.0f); });
    });
    connect(&m_tray, &NotificationArea::availabilityChanged, this,
            [this](bool) { dispatch([this] { onTrayAvailabilityChanged(); }); });

    Timer1->start();
}

void frmDDNS::load()
{
    dispatch([this] { Form_Load(); });
}

void frmDDNS::start()
{
    load();
    if (!m_firstStart)
        return;
    qCInfo(lcTray) << "first start: the window opens";
    dispatch([this] { submnuProperty_Click(0); });
}

void frmDDNS::Form_Load()
{
    // Steps 1 and 2 are not guarded: without its background picture the program does not start.
    Picture = LoadPicture(m_services.appPath() + QStringLiteral("/icons/bg_small.bmp"));
    update();

    StepSkipper step;
    step([this] { intLoginPhase = 0; });
    step([this] { strServerPort = QString::number(m_service.port); });
    step([this] { strServerHost = m_service.host; });
    step([this] {
        blnExiting = false;
        blnConnecting = false;
    });
    step([this] {
        nidTray.cbSize = 88;
        // The window's icon, which the window itself is given when it is first shown.
        nidTray.hIcon = programIcon();
        nidTray.hWnd = static_cast<quintptr>(winId());
        // The product name, one NUL, then spaces to the end of the field.
        static constexpr char tip[] = "Vestrel";
        nidTray.szTip.fill(' ');
        std::memcpy(nidTray.szTip.data(), tip, sizeof tip);
        nidTray.uCallbackMessage = WM_MOUSEMOVE;
        nidTray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nidTray.uID = 1;
    });
    step([this] { setWindowStateValue(vbMinimized); });
    step([this] { Form_Resize(); });
    step([this] { LoadSettings(); });
    step([this] { Timer1_Timer(); });
}

QPixmap frmDDNS::LoadPicture(const QString &path)
{
    // A picture of the format its name says is read without a look at the plugins; any other file
    // is read as it always was, found by its content where its name is wrong.
    QImage image = QFileInfo::exists(path) ? readByName(path)->read() : QImage();
    if (!image.isNull())
        return QPixmap::fromImage(std::move(image));
    QImageReader reader(path);
    image = reader.read();
    if (image.isNull()) {
        if (reader.error() == QImageReader::FileNotFoundError)
            throw Err::fileNotFound(path);
        throw Err::invalidPicture(path);
    }
    return QPixmap::fromImage(std::move(image));
}

QString frmDDNS::configPath() const
{
    return m_services.appPath() + QStringLiteral("/config.dat");
}

int frmDDNS::WindowState() const
{
    const Qt::WindowStates s = windowState();
    if (s & Qt::WindowMinimized)
        return vbMinimized;
    if (s & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return vbMaximized;
    return vbNormal;
}

void frmDDNS::setWindowStateValue(int state)
{
    Qt::WindowStates s = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == vbMinimized)
        s |= Qt::WindowMinimized;
    else if (state == vbMaximized)
        s |= Qt::WindowMaximized;
    setWindowState(s);
}

void frmDDNS::reportAndEnd(int number, const QString &description)
{
    // m_ending keeps every handler, the timer's too, from running while the box is up.
    m_ending = true;
    m_services.messageBox(QStringLiteral("Error %1: %2").arg(number).arg(description), DesktopServices::Icon::Stop);
    endNow(1);
}

void frmDDNS::endNow(int exitCode)
{
    Timer1->stop();
    m_tray.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nidTray);
    m_services.endProgram(exitCode);
}

void frmDDNS::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (!Picture.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, Picture);
    }
}

void frmDDNS::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        dispatch([this] { Form_Resize(); });
}

void frmDDNS::closeEvent(QCloseEvent *event)
{
    // A failure is on screen and the program ends once its box is dismissed; a close from the
    // system meanwhile must not end it underneath the box.
    if (m_ending) {
        event->ignore();
        return;
    }
    // A close from code or from the session is not spontaneous. A spontaneous one comes from the
    // window system: the user's close box, or another program (taskkill, End task), where the
    // system tells them apart.
    qint16 cancel = 0;
    qint16 reason = vbAppWindows;
    if (event->spontaneous())
        reason = m_closeOrigin.lastCloseIsUsers() ? vbFormControlMenu : vbAppTaskManager;
    if (reason == vbAppTaskManager)
        qCInfo(lcTray) << "another program closed the window; ending";
    dispatch([&] { Form_QueryUnload(cancel, reason); });
    if (cancel != 0 || m_services.hasEnded()) {
        event->setAccepted(cancel == 0);
        return;
    }
    event->accept();
    endNow(0);
}

bool frmDDNS::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    m_closeOrigin.observe(eventType, message);
    return QWidget::nativeEvent(eventType, message, result);
}

void frmDDNS::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    // While a button is held the window keeps receiving moves beyond its edges; there x could hit
    // the tray's numbers 515 and 516. Only movement over the client area reaches the handler.
    if (!QRectF(rect()).contains(pos)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const auto button = static_cast<qint16>(event->buttons().toInt() & 0x7);
    const auto shift = static_cast<qint16>((event->modifiers() & Qt::ShiftModifier ? 1 : 0)
                                           | (event->modifiers() & Qt::ControlModifier ? 2 : 0)
                                           | (event->modifiers() & Qt::AltModifier ? 4 : 0));
    dispatch([&] { Form_MouseMove(button, shift, static_cast<float>(pos.x()), static_cast<float>(pos.y())); });
    QWidget::mouseMoveEvent(event);
}
