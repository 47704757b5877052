#include "app/CardPick.h"

#include <QTextBoundaryFinder>

namespace CardPick {

QString firstLine(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    qsizetype pieceStart = 0;
    while (true) {
        const qsizetype end = finder.toNextBoundary();
        if (end < 0)
            break;
        if (end - start == 1 && text.at(start) == QLatin1Char('\n')) {
            if (start > pieceStart)
                return text.mid(pieceStart, start - pieceStart);
            pieceStart = end;
        }
        start = end;
    }
    if (text.size() > pieceStart)
        return text.mid(pieceStart);
    return text;
}

int pickIndex(int count, RandomSource& rs)
{
    if (count <= 1)
        return 0;
    const double total = double(count) * double(count + 1) / 2.0;
    double r;
    do {
        r = total * (double(rs.bits53()) / double(Random::kTwo53));
    } while (r >= total);
    for (int i = 0; i < count; ++i) {
        r -= double(count - i);
        if (r < 0)
            return i;
    }
    return 0;
}

QList<TroubleCard> otherCards(const QList<TroubleCard>& cards, std::int64_t chosenId)
{
    QList<TroubleCard> out;
    for (const TroubleCard& c : cards)
        if (c.id != chosenId)
            out.append(c);
    return out;
}

QuestionKind chooseKind(qsizetype otherCount, RandomSource& rs)
{
    if (otherCount < 3)
        return QuestionKind::typedAnswer;
    return rs.coin() ? QuestionKind::multipleChoice : QuestionKind::typedAnswer;
}

QuizQuestion buildQuiz(const TroubleCard& card, QList<TroubleCard> others, RandomSource& rs)
{
    QuizQuestion q;
    q.question = card.front;
    q.correctAnswer = firstLine(card.back);
    shuffle(others, rs);
    struct Option {
        QString text;
        std::int64_t id;
    };
    QList<Option> options;
    for (qsizetype i = 0; i < others.size() && i < 3; ++i)
        options.append({firstLine(others[i].back), others[i].id});
    options.append({q.correctAnswer, card.id});
    shuffle(options, rs);
    for (const Option& o : options) {
        q.options.append(o.text);
        q.optionCardIds.append(o.id);
    }
    return q;
}

TypedQuestion buildTyped(const TroubleCard& card)
{
    return {firstLine(card.back), card.front};
}

std::optional<SessionPlan> plan(const QList<TroubleCard>& cards, RandomSource& rs)
{
    if (cards.isEmpty())
        return std::nullopt;
    SessionPlan p;
    p.card = cards.at(pickIndex(int(cards.size()), rs));
    p.others = otherCards(cards, p.card.id);
    p.kind = chooseKind(p.others.size(), rs);
    return p;
}

} // namespace CardPick

bool CardSessionState::questionShown()
{
    if (phase_ != Phase::fetching)
        return false;
    phase_ = Phase::asking;
    return true;
}

bool CardSessionState::loginShown()
{
    if (phase_ != Phase::fetching)
        return false;
    phase_ = Phase::loginShown;
    return true;
}

bool CardSessionState::answer()
{
    if (phase_ != Phase::asking)
        return false;
    phase_ = Phase::answered;
    return true;
}

bool CardSessionState::timeOut()
{
    if (phase_ != Phase::asking)
        return false;
    phase_ = Phase::ended;
    return true;
}

bool CardSessionState::finish()
{
    if (phase_ == Phase::ended || phase_ == Phase::asking)
        return false;
    phase_ = Phase::ended;
    return true;
}

bool CardSessionState::release()
{
    if (phase_ == Phase::ended)
        return false;
    phase_ = Phase::ended;
    return true;
}
