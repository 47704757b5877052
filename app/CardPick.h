#pragma once
// The decisions of one card session, kept free of widgets so they can be
// checked on their own: which card, which question kind, which options.
#include "api/CardRecords.h"
#include "app/RandomSource.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace CardPick {

// The first non-empty line of a text, split only at line feeds that stand
// alone as a user-perceived character (so CR LF stays one unsplit character);
// a text with no non-empty piece is returned whole.
QString firstLine(const QString& text);

// Rank-weighted choice: of n cards the one at position i weighs n - i.
int pickIndex(int count, RandomSource& rs);

// Every card whose id differs from the chosen one, in list order.
QList<TroubleCard> otherCards(const QList<TroubleCard>& cards, std::int64_t chosenId);

enum class QuestionKind { multipleChoice, typedAnswer };
// A fair coin with at least three other cards; otherwise always typed.
QuestionKind chooseKind(qsizetype otherCount, RandomSource& rs);

// Uniform in-place Fisher-Yates shuffle.
template <class T>
void shuffle(QList<T>& list, RandomSource& rs)
{
    for (qsizetype i = list.size() - 1; i > 0; --i) {
        const auto j = static_cast<qsizetype>(rs.below(static_cast<std::uint64_t>(i) + 1));
        list.swapItemsAt(i, j);
    }
}

struct QuizQuestion {
    QString question;             // the card's whole front
    QStringList options;          // shuffled, not deduplicated
    QString correctAnswer;        // first line of the card's back
    QList<std::int64_t> optionCardIds; // the card each option was taken from, same order
};
QuizQuestion buildQuiz(const TroubleCard& card, QList<TroubleCard> others, RandomSource& rs);

struct TypedQuestion {
    QString prompt;         // first line of the back: the typed answer asks the other way round
    QString expectedAnswer; // the card's whole front
};
TypedQuestion buildTyped(const TroubleCard& card);

struct SessionPlan {
    TroubleCard card;
    QList<TroubleCard> others;
    QuestionKind kind = QuestionKind::typedAnswer;
};
// Nothing for an empty list.
std::optional<SessionPlan> plan(const QList<TroubleCard>& cards, RandomSource& rs);

} // namespace CardPick

// Where one card session stands. Every path that could end it (an answer, the
// auto-dismiss, a failed fetch, a login) goes through here, so a session ends
// exactly once even when an answer and the time-out meet.
class CardSessionState {
public:
    enum class Phase { fetching, asking, answered, loginShown, ended };

    Phase phase() const { return phase_; }
    bool ended() const { return phase_ == Phase::ended; }

    // fetching -> asking
    bool questionShown();
    // fetching -> loginShown
    bool loginShown();
    // asking -> answered: only an answer to a question still being asked counts.
    bool answer();
    // asking -> ended: a time-out after an answer does nothing.
    bool timeOut();
    // answered or loginShown or fetching -> ended
    bool finish();
    // any phase but ended -> ended: the panel was replaced, nothing more is shown.
    bool release();

private:
    Phase phase_ = Phase::fetching;
};
