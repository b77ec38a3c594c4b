// The service's replies, any bytes cut into any deliveries, through the window's real data-arrival
// handler on a fake socket. After every delivery the window must show exactly what a simple reading
// of the whole text received so far says: the outcome and address of the last status completed in
// that delivery, or nothing new. On the way: the login phase stays 0 or 1, the cookie kept for the
// next request holds no control character and comes from the received text, the text carried from
// one delivery to the next stays within its bound, and no failure reaches the point where the
// program would end.
//
// Input: a count byte n (1 to 8 from its low three bits), n size bytes, then the reply. Deliveries
// take their sizes from the size bytes in turn: below 224 a byte gives 1 to 224 bytes, above it
// multiples of 256, so that one delivery may span many 255-byte reads.
#include "fuzzwindow.h"

#include <QLabel>
#include <QList>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace {

struct Outcome {
    qsizetype completeAt; // how much of the text must have arrived for the outcome to be known
    QString address;
    bool online;
};

struct Reading {
    QList<Outcome> outcomes;
    // Where the login phase changes: how much text must have arrived, and the new phase.
    QList<std::pair<qsizetype, qint16>> phaseChanges;
};

// The end of the first page start "<html>" at or after from, with spaces anywhere inside it
// ignored; -1 when there is none yet.
qsizetype pageStartEnd(const QString &text, qsizetype from)
{
    static const QString tag = QStringLiteral("<html>");
    for (qsizetype i = text.indexOf(u'<', from); i >= 0; i = text.indexOf(u'<', i + 1)) {
        qsizetype j = i;
        qsizetype matched = 0;
        while (j < text.size() && matched < tag.size()) {
            if (text[j] == u' ') {
                ++j;
            } else if (text[j] == tag[matched]) {
                ++j;
                ++matched;
            } else {
                break;
            }
        }
        if (matched == tag.size())
            return j;
    }
    return -1;
}

// The reply read the plain way, all of it at once, noting how much of it each finding needs: wait for a page start,
// then for the first "s5555" whose colon follows within 255 characters of address; the status text after the colon runs
// to CR, LF or "<", or 255 characters, and is a success as soon as it holds "online". Then wait for the next page.
Reading readWhole(const QString &text)
{
    static const QString marker = QStringLiteral("s5555");
    constexpr qsizetype field = 255;
    Reading r;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype page = pageStartEnd(text, pos);
        if (page < 0)
            return r;
        r.phaseChanges.append({page, 1});
        pos = page;
        for (;;) {
            const qsizetype m = text.indexOf(marker, pos);
            if (m < 0)
                return r;
            const qsizetype address = m + marker.size();
            const qsizetype colon = text.indexOf(u':', address);
            if (colon < 0)
                return r;
            if (colon - address > field) { // too long an address: a later marker may still fit
                pos = address;
                continue;
            }
            if (colon == address) { // no address: no outcome, and still waiting for a marker
                pos = colon + 1;
                continue;
            }
            // Success is known at the end of the first "online" in the status text; failure at its end.
            qsizetype end = colon + 1;
            bool online = false;
            while (end < text.size() && end - (colon + 1) < field && text[end] != u'\r' && text[end] != u'\n'
                   && text[end] != u'<') {
                ++end;
                if (end - (colon + 1) >= 6 && QStringView(text).sliced(end - 6, 6) == u"online") {
                    online = true;
                    break;
                }
            }
            const bool full = end - (colon + 1) == field;
            if (!online && !full && end == text.size())
                return r; // the status text may go on
            const qsizetype completeAt = online || full ? end : end + 1;
            r.outcomes.append({completeAt, text.mid(address, colon - address), online});
            r.phaseChanges.append({completeAt, 0});
            pos = end;
            break;
        }
    }
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// Nothing that a reply can make the window show.
const QString kNoAddress = QStringLiteral("none:");
const QString kNoCaption = QStringLiteral("Connect");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t sizeCount = (data[0] & 7) + 1;
    if (size < 1 + sizeCount)
        return 0;
    const std::uint8_t *sizes = data + 1;
    const QByteArray reply(reinterpret_cast<const char *>(data + 1 + sizeCount), qsizetype(size - 1 - sizeCount));

    FuzzWindow &f = fuzzWindow();
    frmDDNS &w = *f.window;
    // Every input is a fresh stream.
    w.intLoginPhase = 0;
    w.replyReader.reset();
    w.strCookie.clear();
    f.socket.incoming.clear();
    f.socket.chunksRead.clear();
    f.socket.state = Winsock::sckConnected;

    // Nothing the reading finds depends on text after the point where it is found, so the whole
    // reading says what any part received so far gives.
    const Reading whole = readWhole(QString::fromLatin1(reply));
    qsizetype delivered = 0;
    qsizetype outcomesShown = 0;
    qsizetype phaseChangesPassed = 0;
    qint16 phase = 0;
    QString cookie;
    for (std::size_t i = 0; delivered < reply.size(); ++i) {
        const std::uint8_t code = sizes[i % sizeCount];
        const qsizetype want = code < 224 ? code + 1 : (code - 223) * 256;
        const qsizetype n = std::min(want, reply.size() - delivered);

        w.cmdConnect->setText(kNoCaption);
        w.lblMyIP->setText(kNoAddress);
        f.socket.deliver(reply.mid(delivered, n));
        delivered += n;

        FUZZ_CHECK(!f.services->hasEnded(), "no failure reaches the point where the program ends");
        FUZZ_CHECK(f.socket.incoming.isEmpty(), "every delivery is read to its end");
        FUZZ_CHECK(w.intLoginPhase == 0 || w.intLoginPhase == 1, "the login phase is 0 or 1");
        while (phaseChangesPassed < whole.phaseChanges.size()
               && whole.phaseChanges[phaseChangesPassed].first <= delivered)
            phase = whole.phaseChanges[phaseChangesPassed++].second;
        FUZZ_CHECK(w.intLoginPhase == phase, "the login phase is where the text so far leaves it");
        FUZZ_CHECK(w.replyReader.carriedSize() <= ReplyReader::kMaxCarry, "the carried text stays within its bound");
        if (w.strCookie != cookie) {
            cookie = w.strCookie;
            FUZZ_CHECK(!hasControlCharacter(cookie), "the cookie holds no control character");
            FUZZ_CHECK(QString::fromLatin1(reply.left(delivered)).contains(cookie),
                       "the cookie is text that was received");
        }

        qsizetype completed = outcomesShown;
        while (completed < whole.outcomes.size() && whole.outcomes[completed].completeAt <= delivered)
            ++completed;
        if (completed == outcomesShown) {
            FUZZ_CHECK(w.cmdConnect->text() == kNoCaption, "no status completed, so no outcome is shown");
            FUZZ_CHECK(w.lblMyIP->text() == kNoAddress, "no status completed, so no address is shown");
        } else {
            const Outcome &last = whole.outcomes[completed - 1];
            if (last.online)
                FUZZ_CHECK(w.cmdConnect->text() == QStringLiteral("Connected"), "a status saying online is a success");
            else
                FUZZ_CHECK(w.cmdConnect->text() == QStringLiteral("Disconnect"),
                           "a status not saying online is a failure");
            FUZZ_CHECK(w.lblMyIP->text() == last.address, "the address shown is the one of that status");
            FUZZ_CHECK(w.lblMyIP->textFormat() == Qt::PlainText, "the address is never read as markup");
        }
        outcomesShown = completed;
    }
    return 0;
}

void fuzzTeardown()
{
    releaseFuzzWindow();
}
