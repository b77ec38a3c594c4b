#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>

// Something the reply reader found in the service's text.
struct ReplyEvent {
    enum class Kind {
        PageStart, // "<html>", spaces ignored: the login phase moves to 1
        Outcome,   // a status marker with its address and status text: the login phase moves to 0
        Cookie,    // a complete Set-Cookie header line: text holds its name=value pair
    };

    Kind kind;
    QString text; // Outcome: the address text as received; Cookie: the name=value pair
    bool online = false;

    friend bool operator==(const ReplyEvent &, const ReplyEvent &) = default;
};

// Reads the service's replies as one stream of text, however the socket cuts it into pieces, so a
// page start, a status marker or a Set-Cookie line split across pieces is still found whole.
//
// The login phase belongs to the caller: each piece is read in the phase the caller passes in, and
// the result says what the piece completed and the phase it leaves (a page start moves it to 1, an
// outcome to 0). Half-read text of the other phase is forgotten, so a caller that changes the phase
// itself never sees a page start or marker completed from before the change.
//
// An outcome is the first status marker "s5555" after a page start, the address text up to the next
// colon, and the status text after it, up to CR, LF or "<" or kMaxField characters: a success as
// soon as the status text holds "online", a failure once it ends without.
//
// Memory stays bounded: a marker with no colon within kMaxField characters is dropped, a status
// text ends after kMaxField characters, and a Set-Cookie value longer than kMaxCookie characters is
// skipped. The work per character is constant.
class ReplyReader
{
public:
    static constexpr qsizetype kMaxField = 255;
    static constexpr qsizetype kMaxCookie = 4096;
    // Cookie value, plus the address window and its not yet compacted prefix.
    static constexpr qsizetype kMaxCarry = kMaxCookie + 2 * (kMaxField + 1);

    // The login phase: before a page start the reader looks for one, within a page for the status
    // marker. The window keeps it as a number (0 and 1) and converts it where it hands it over.
    enum class Phase : qint16 { BeforePage = 0, InPage = 1 };

    struct Result {
        QList<ReplyEvent> events;        // what the piece completed, in stream order
        Phase phase = Phase::BeforePage; // the login phase after the piece
    };

    // Reads the next piece of the stream in the given login phase.
    Result feed(Phase phase, QStringView text);
    // The stream has ended (its connection is closed): a status text still open is judged, and
    // everything half read is forgotten, so nothing of it joins the next connection's text.
    Result endOfStream(Phase phase);

    // Characters carried over to the next piece.
    qsizetype carriedSize() const { return m_windowSize + m_address.size() + m_cookie.size(); }
    // Forgets everything half-read.
    void reset();

private:
    enum class CookieState { Name, BeforeColon, Value, RestOfLine };

    void readPageStart(QChar c, QList<ReplyEvent> &events);
    void readCookie(QChar c, QList<ReplyEvent> &events);
    void finishCookieLine(QList<ReplyEvent> &events);
    // Within a page: the status text once a marker's address has ended, else the marker and its
    // address. Returns false when c ends the status text without belonging to it.
    bool readMarker(QChar c, QList<ReplyEvent> &events);
    bool readStatusText(char16_t u, QList<ReplyEvent> &events);
    void readAddress(char16_t u);
    // The colon that ends the oldest open marker's address: its status text begins.
    void beginStatusText();
    void matchMarker(char16_t u);
    // Drops markers whose address outgrew kMaxField and compacts the window behind them.
    void boundOpenMarkers();
    void finishOutcome(QList<ReplyEvent> &events);
    void forgetHalfReadPage();
    void forgetHalfReadMarker();

    // The phase of the piece being read: the caller's, as it moves through the piece.
    Phase m_phase = Phase::BeforePage;
    qint64 m_pos = 0; // characters read so far

    // Page start, before a page: characters of "<html>" matched, spaces skipped.
    int m_pageMatched = 0;

    // Status marker, within a page.
    int m_markerMatched = 0;
    // Where the address text of each marker still waiting for its colon begins, oldest first.
    // Every marker's address runs to the same first colon, so the oldest one gets it. Markers
    // cannot overlap, so at most kMaxField / 5 + 1 of them are open at once.
    class MarkerQueue
    {
    public:
        bool empty() const { return m_count == 0; }
        qint64 front() const { return m_items[m_head]; }
        void push_back(qint64 v)
        {
            Q_ASSERT(m_count < Capacity);
            m_items[(m_head + m_count++) % Capacity] = v;
        }
        void pop_front()
        {
            m_head = (m_head + 1) % Capacity;
            --m_count;
        }
        void clear() { m_head = m_count = 0; }

    private:
        static constexpr int Capacity = 64;
        std::array<qint64, Capacity> m_items{};
        int m_head = 0;
        int m_count = 0;
    };
    MarkerQueue m_openMarkers;
    // Text from m_windowBase on, covering the address of every open marker; the prefix that no open
    // marker needs any more is dropped once it reaches a field's length.
    std::array<char16_t, 2 * (kMaxField + 1)> m_window{};
    qsizetype m_windowSize = 0;
    qint64 m_windowBase = 0;
    bool m_inStatus = false;
    QString m_address;
    qsizetype m_statusLength = 0;
    int m_onlineMatched = 0;
    bool m_online = false;

    // Set-Cookie header lines, in every phase.
    CookieState m_cookieState = CookieState::Name;
    int m_cookieMatched = 0;
    QString m_cookie;
    // The value ended at ";" within bounds; the rest of the line holds attributes.
    bool m_cookieCaptured = false;
};
