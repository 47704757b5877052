#pragma once

#include <QString>
#include <QStringList>

// Lenient comparison of a typed answer with a card's expected answer.
// Texts are compared as user-perceived characters (extended grapheme
// clusters) and canonically equivalent texts are equal.

enum class TypingResult { correct, close, wrong };

namespace AnswerMatching {

// Scores at or above these bars count as right / close (both inclusive).
inline constexpr double correctThreshold = 0.9;
inline constexpr double closeThreshold = 0.6;

// Removes tab and every Unicode space separator (Zs) from both ends; line
// breaks and inner whitespace are kept.
QString trimHorizontal(const QString& text);

// True when the two texts are canonically equivalent (same NFC form).
bool canonicallyEqual(const QString& a, const QString& b);

// Number of extended grapheme clusters.
qsizetype characterCount(const QString& text);

TypingResult classify(double score);
int qualityFor(TypingResult result);

} // namespace AnswerMatching

// Normalised edit-distance score in [0, 1]; 1.0 means identical after full
// Unicode lower-casing and horizontal trimming. Symmetric.
double similarity(const QString& a, const QString& b);

// Removes one trailing part-of-speech marker such as "(n.)" or "(idiom)",
// with the whitespace around it, and trims the result.
QString stripPOS(const QString& text);

// The alternative parts of an answer like "(n.) apple, (v.) to fall": the
// pieces between "," and ";" and their forms without a leading marker, in
// order, without duplicates and without the whole answer itself.
QStringList splitIntoParts(const QString& text);
