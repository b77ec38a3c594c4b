// The service's replies: login outcome, reported address and cookie.
#include "exchange/reply.h"

#include "core/text.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char16_t kPageStart[] = u"<html>";
constexpr int kPageStartLength = 6;
constexpr char16_t kMarker[] = u"s5555";
constexpr int kMarkerLength = 5;
constexpr char16_t kOnline[] = u"online";
constexpr int kOnlineLength = 6;
constexpr char16_t kSetCookie[] = u"set-cookie";
constexpr int kSetCookieLength = 10;

constexpr char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

} // namespace

void ReplyReader::reset()
{
    *this = ReplyReader();
}

void ReplyReader::forgetHalfReadPage()
{
    m_pageMatched = 0;
}

void ReplyReader::forgetHalfReadMarker()
{
    m_markerMatched = 0;
    m_openMarkers.clear();
    m_windowSize = 0;
    m_inStatus = false;
    m_address.truncate(0);
    m_statusLength = 0;
    m_onlineMatched = 0;
    m_online = false;
}

ReplyReader::Result ReplyReader::feed(Phase phase, QStringView text)
{
    Result result;
    QList<ReplyEvent> &events = result.events;
    // What was half read for another phase than the caller's does not count in this one.
    m_phase = phase;
    if (phase != Phase::BeforePage)
        forgetHalfReadPage();
    if (phase != Phase::InPage)
        forgetHalfReadMarker();
    const char16_t *const data = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        // Most of a reply is of no interest: while every search waits for one particular
        // character, run to the next one instead of stepping each search character by character.
        if (m_cookieState == CookieState::RestOfLine) {
            char16_t wanted = 0;
            if (m_phase == Phase::BeforePage && m_pageMatched == 0)
                wanted = u'<';
            else if (m_phase == Phase::InPage && !m_inStatus && m_openMarkers.empty() && m_markerMatched == 0)
                wanted = kMarker[0];
            if (wanted != 0) {
                qsizetype j = i;
                while (j < size && data[j] != u'\n' && data[j] != wanted)
                    ++j;
                m_pos += j - i;
                i = j;
                if (i == size)
                    break;
            }
        }

        const QChar c(data[i]);
        if (m_cookieState != CookieState::RestOfLine || c == u'\n')
            readCookie(c, events);
        // A character that ends a status text without belonging to it may begin the next page.
        const bool taken = m_phase == Phase::InPage && readMarker(c, events);
        if (!taken && m_phase == Phase::BeforePage)
            readPageStart(c, events);
        ++m_pos;
        ++i;
    }
    result.phase = m_phase;
    return result;
}

void ReplyReader::readPageStart(QChar c, QList<ReplyEvent> &events)
{
    const char16_t u = c.unicode();
    if (u == u' ')
        return;
    if (u == kPageStart[m_pageMatched]) {
        if (++m_pageMatched == kPageStartLength) {
            m_pageMatched = 0;
            m_markerMatched = 0;
            m_phase = Phase::InPage;
            events.append({ReplyEvent::Kind::PageStart, QString(), false});
        }
    } else {
        m_pageMatched = (u == u'<') ? 1 : 0;
    }
}

bool ReplyReader::readMarker(QChar c, QList<ReplyEvent> &events)
{
    if (m_inStatus)
        return readStatusText(c.unicode(), events);
    readAddress(c.unicode());
    return true;
}

bool ReplyReader::readStatusText(char16_t u, QList<ReplyEvent> &events)
{
    if (u == u'\r' || u == u'\n' || u == u'<') {
        finishOutcome(events);
        return false;
    }
    ++m_statusLength;
    if (u == kOnline[m_onlineMatched]) {
        // Success is known as soon as the status says so; what follows cannot undo it, and a
        // reply that ends right here must not wait for a line end that never comes.
        if (++m_onlineMatched == kOnlineLength) {
            m_online = true;
            finishOutcome(events);
            return true;
        }
    } else {
        m_onlineMatched = (u == u'o') ? 1 : 0;
    }
    if (m_statusLength == kMaxField)
        finishOutcome(events);
    return true;
}

void ReplyReader::readAddress(char16_t u)
{
    if (!m_openMarkers.empty()) {
        if (u == u':') {
            beginStatusText();
            return;
        }
        Q_ASSERT(m_windowSize < qsizetype(m_window.size()));
        m_window[m_windowSize++] = u;
    }
    matchMarker(u);
    boundOpenMarkers();
}

void ReplyReader::beginStatusText()
{
    const qint64 begin = m_openMarkers.front();
    const qsizetype length = m_pos - begin;
    // A colon right after the marker ends that marker without an outcome.
    if (length > 0) {
        m_address = QString::fromUtf16(m_window.data() + (begin - m_windowBase), length);
        m_inStatus = true;
        m_statusLength = 0;
        m_onlineMatched = 0;
        m_online = false;
    }
    m_openMarkers.clear();
    m_windowSize = 0;
    m_markerMatched = 0;
}

void ReplyReader::matchMarker(char16_t u)
{
    if (u != kMarker[m_markerMatched]) {
        m_markerMatched = (u == u's') ? 1 : 0;
        return;
    }
    if (++m_markerMatched < kMarkerLength)
        return;
    m_markerMatched = 0;
    if (m_openMarkers.empty()) {
        m_windowSize = 0;
        m_windowBase = m_pos + 1;
    }
    m_openMarkers.push_back(m_pos + 1);
}

void ReplyReader::boundOpenMarkers()
{
    // A marker whose address has outgrown the bound without a colon is dropped.
    while (!m_openMarkers.empty() && m_pos + 1 - m_openMarkers.front() > kMaxField)
        m_openMarkers.pop_front();
    if (m_openMarkers.empty()) {
        m_windowSize = 0;
    } else if (m_openMarkers.front() - m_windowBase > kMaxField) {
        // Compacting only after a whole field's worth keeps the copying linear overall.
        const qsizetype dead = m_openMarkers.front() - m_windowBase;
        std::copy(m_window.begin() + dead, m_window.begin() + m_windowSize, m_window.begin());
        m_windowSize -= dead;
        m_windowBase += dead;
    }
}

ReplyReader::Result ReplyReader::endOfStream(Phase phase)
{
    Result result;
    result.phase = phase;
    // A status text still open when its connection ends has said all it will: not "online".
    if (phase == Phase::InPage && m_inStatus) {
        finishOutcome(result.events);
        result.phase = Phase::BeforePage;
    }
    reset();
    return result;
}

void ReplyReader::finishOutcome(QList<ReplyEvent> &events)
{
    events.append({ReplyEvent::Kind::Outcome, std::exchange(m_address, QString()), m_online});
    m_inStatus = false;
    m_statusLength = 0;
    m_onlineMatched = 0;
    m_online = false;
    m_phase = Phase::BeforePage;
    m_pageMatched = 0;
}

void ReplyReader::readCookie(QChar c, QList<ReplyEvent> &events)
{
    const char16_t u = c.unicode();
    if (u == u'\n') {
        finishCookieLine(events);
        return;
    }
    switch (m_cookieState) {
    case CookieState::Name:
        if (asciiLower(u) == kSetCookie[m_cookieMatched]) {
            if (++m_cookieMatched == kSetCookieLength)
                m_cookieState = CookieState::BeforeColon;
        } else {
            m_cookieState = CookieState::RestOfLine;
        }
        break;
    case CookieState::BeforeColon:
        if (u == u':')
            m_cookieState = CookieState::Value;
        else if (u != u' ')
            m_cookieState = CookieState::RestOfLine;
        break;
    case CookieState::Value:
        if (u == u';') {
            m_cookieCaptured = true;
            m_cookieState = CookieState::RestOfLine;
        } else if (m_cookie.size() == kMaxCookie) {
            // Too long to be a cookie worth sending back: skip the line.
            m_cookie.truncate(0);
            m_cookieState = CookieState::RestOfLine;
        } else {
            m_cookie.append(c);
        }
        break;
    case CookieState::RestOfLine:
        break;
    }
}

void ReplyReader::finishCookieLine(QList<ReplyEvent> &events)
{
    bool complete = m_cookieCaptured;
    if (m_cookieState == CookieState::Value) {
        complete = true;
        // The CR of a CR LF line end is not part of the value.
        if (m_cookie.endsWith(u'\r'))
            m_cookie.chop(1);
    }
    if (complete) {
        const QString pair = trimSpaces(m_cookie);
        if (!pair.isEmpty() && !hasControlCharacter(pair))
            events.append({ReplyEvent::Kind::Cookie, pair, false});
    }
    m_cookie.truncate(0);
    m_cookieCaptured = false;
    m_cookieState = CookieState::Name;
    m_cookieMatched = 0;
}
