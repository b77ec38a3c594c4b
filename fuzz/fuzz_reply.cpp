// The service's replies, any bytes cut into any deliveries, through the reply reader, each delivery
// fed in the 255-character reads the window makes of it. After every read the reader must have
// found exactly what a simple reading of the whole text received so far finds: each status
// completed in that read, in order, with its outcome and address, and nothing else. On the way: the
// login phase it leaves is 0 or 1 and where the text so far leaves it, the cookie it finds holds no
// control character and comes from the received text, and the text carried from one read to the
// next stays within its bound.
//
// Input: a count byte n (1 to 8 from its low three bits), n size bytes, then the reply. Deliveries
// take their sizes from the size bytes in turn: below 224 a byte gives 1 to 224 bytes, above it
// multiples of 256, so that one delivery may span many 255-byte reads.
#include "exchange/reply.h"
#include "fuzzcheck.h"

#include <QList>

#include <algorithm>
#include <optional>
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
    QList<std::pair<qsizetype, ReplyReader::Phase>> phaseChanges;
    // The address of a status whose text was still open when the reply ended.
    std::optional<QString> openAddress;
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
        r.phaseChanges.append({page, ReplyReader::Phase::InPage});
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
            if (!online && !full && end == text.size()) {
                r.openAddress = text.mid(address, colon - address); // the status text may go on
                return r;
            }
            const qsizetype completeAt = online || full ? end : end + 1;
            r.outcomes.append({completeAt, text.mid(address, colon - address), online});
            r.phaseChanges.append({completeAt, ReplyReader::Phase::BeforePage});
            pos = end;
            break;
        }
    }
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t sizeCount = (data[0] & 7) + 1;
    if (size < 1 + sizeCount)
        return 0;
    const std::uint8_t *sizes = data + 1;
    const QString reply =
        QString::fromLatin1(reinterpret_cast<const char *>(data + 1 + sizeCount), qsizetype(size - 1 - sizeCount));

    // Nothing the reading finds depends on text after the point where it is found, so the whole
    // reading says what any part received so far gives.
    const Reading whole = readWhole(reply);
    ReplyReader reader;
    ReplyReader::Phase phase = ReplyReader::Phase::BeforePage;
    qsizetype read = 0;
    qsizetype outcomesFound = 0;
    qsizetype phaseChangesPassed = 0;
    ReplyReader::Phase expectedPhase = ReplyReader::Phase::BeforePage;
    for (std::size_t i = 0; read < reply.size(); ++i) {
        const std::uint8_t code = sizes[i % sizeCount];
        const qsizetype want = code < 224 ? code + 1 : (code - 223) * 256;
        const qsizetype delivered = std::min(read + want, reply.size());
        while (read < delivered) {
            const qsizetype n = std::min<qsizetype>(255, delivered - read);
            const ReplyReader::Result result = reader.feed(phase, QStringView(reply).sliced(read, n));
            read += n;
            phase = result.phase;

            FUZZ_CHECK(phase == ReplyReader::Phase::BeforePage || phase == ReplyReader::Phase::InPage,
                       "the login phase is 0 or 1");
            while (phaseChangesPassed < whole.phaseChanges.size()
                   && whole.phaseChanges[phaseChangesPassed].first <= read)
                expectedPhase = whole.phaseChanges[phaseChangesPassed++].second;
            FUZZ_CHECK(phase == expectedPhase, "the login phase is where the text so far leaves it");
            FUZZ_CHECK(reader.carriedSize() <= ReplyReader::kMaxCarry, "the carried text stays within its bound");

            qsizetype completed = outcomesFound;
            while (completed < whole.outcomes.size() && whole.outcomes[completed].completeAt <= read)
                ++completed;
            const ReplyEvent *cookie = nullptr;
            for (const ReplyEvent &event : result.events) {
                if (event.kind == ReplyEvent::Kind::Cookie) {
                    FUZZ_CHECK(!hasControlCharacter(event.text), "the cookie holds no control character");
                    cookie = &event;
                } else if (event.kind == ReplyEvent::Kind::Outcome) {
                    FUZZ_CHECK(outcomesFound < completed, "an outcome is found only where a status is completed");
                    const Outcome &expected = whole.outcomes[outcomesFound++];
                    FUZZ_CHECK(event.online == expected.online, "online exactly when the status text says so");
                    FUZZ_CHECK(event.text == expected.address, "the address is the one of that status");
                }
            }
            FUZZ_CHECK(outcomesFound == completed, "every status completed is found");
            // The one kept for the next request.
            if (cookie) {
                FUZZ_CHECK(QStringView(reply).first(read).contains(cookie->text),
                           "the cookie is text that was received");
            }
        }
    }
    // The connection ends: a status text still open is judged a failure, and nothing else comes.
    const ReplyReader::Result end = reader.endOfStream(phase);
    if (whole.openAddress) {
        FUZZ_CHECK(end.events.size() == 1 && end.events[0].kind == ReplyEvent::Kind::Outcome && !end.events[0].online
                       && end.events[0].text == *whole.openAddress,
                   "a status left open is judged a failure when the stream ends");
    } else {
        FUZZ_CHECK(end.events.isEmpty(), "a stream that ends with no status open completes nothing more");
    }
    // The login phase is the caller's and outlives the connection; only a judged status moves it.
    FUZZ_CHECK(end.phase == (whole.openAddress ? ReplyReader::Phase::BeforePage : phase),
               "the stream's end moves the phase only by an outcome");
    FUZZ_CHECK(reader.carriedSize() == 0, "nothing is carried past the end of a stream");
    return 0;
}

// Every input gets a reader of its own: nothing is kept between inputs.
void fuzzTeardown()
{}
